// The engine with several threads against the engine with one: on real trees, with threads
// slowed down at random, everything the sink hears must come in the same order.
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <gtest/gtest.h>
#include <locale.h>
#include <random>
#include <sys/resource.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

#include "TempTree.h"
#include "platform/MimeType.h"
#include "platform/Process.h"
#include "platform/TextTypes.h"
#include "search/BlockScanner.h"
#include "search/Engine.h"
#include "search/Search.h"

namespace {

// Every call the sink hears, as a line, in order.
class RecordingSink : public SearchSink {
 public:
  void Matched(entry_ref&& ref) override { Add("match " + ref.directory_path() + "/" + ref.name); }
  void TypeAccepted(const char* type) override { Add(std::string("type ") + type); }
  void TypeUnsettled(entry_ref&& ref) override { Add("unsettled " + ref.directory_path() + "/" + ref.name); }
  void Unreadable(entry_ref&& ref, status_t) override { Add("unreadable " + ref.directory_path() + "/" + ref.name); }
  void Add(std::string line) { events.push_back(std::move(line)); }
  std::vector<std::string> events;
};

struct SearchRun {
  std::vector<std::string> events;
  SearchOutcome outcome;
};

SearchRun search_with(const std::string& folder, const std::vector<std::string>& types, std::string text,
                      const SearchOptions& options) {
  BDirectory dir(folder.c_str());
  BList strings;
  strings.AddItem(text.data());
  RecordingSink sink;
  SearchRun run;
  run.outcome = search_folder(dir, TypeSet(types), SearchStrings(strings), sink, options);
  run.events = std::move(sink.events);
  return run;
}

SearchRun search(const std::string& folder, const std::vector<std::string>& types, std::string text,
           int threads, bool slowly, off_t pieceBytes = SearchOptions().pieceBytes) {
  SearchOptions options;
  options.threads = threads;
  options.reportUnsettled = true;
  options.pieceBytes = pieceBytes;
  if (slowly) {
    // About one file in sixteen waits up to half a millisecond, at random per thread.
    options.beforeFile = [] {
      thread_local std::minstd_rand random(std::hash<std::thread::id>()(std::this_thread::get_id()));
      if (random() % 16 == 0) std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
    };
  }
  return search_with(folder, types, text, options);
}

TEST(ParallelTest, ThreadsReportWhatOneThreadReportsInTheSameOrder) {
  const std::vector<std::vector<std::string>> choices = real_tree_type_choices();
  ASSERT_FALSE(choices[0].empty());
  for (const char* folder : kRealFolders) {
    for (const auto& choice : choices) {
      for (const char* text : kRealTexts) {
        SearchRun one = search(folder, choice, text, 1, false);
        for (int threads : {2, 8}) {
          SearchRun many = search(folder, choice, text, threads, true);
          ASSERT_EQ(many.events, one.events) << folder << " '" << text << "', " << threads << " threads";
          EXPECT_EQ(many.outcome.matches, one.outcome.matches);
          EXPECT_EQ(many.outcome.lastAccepted, one.outcome.lastAccepted);
          EXPECT_EQ(many.outcome.incomplete, B_OK);
        }
      }
    }
  }
}

// Big files among small ones, each read slowly enough that the files after it are handed on
// to an idle thread: the order of the reports stays the walk's, matches at the start, the
// middle and the end of big files, and across a NUL, included.
TEST(ParallelTest, FilesHandedOnAfterALongOneKeepTheWalksOrder) {
  TempTree tree;
  std::string big(3 << 20, 'x');
  for (int f = 0; f < 3; ++f) {
    for (int i = 0; i < 12; ++i) {
      std::string name = "f" + std::to_string(f) + "/" + std::to_string(i) + ".txt";
      std::string content = i % 3 == 0 ? big : "a small file\n";
      if (i % 4 == 1) content.replace(content.size() / 2, 6, "needle");
      if (i % 4 == 2) content += "\nneedle at the end";
      if (i % 6 == 3) content.insert(0, "need\0le");
      tree.file(name, content);
    }
  }
  SearchRun one = search(tree.root(), {"text/plain"}, "needle", 1, false);
  EXPECT_GT(one.outcome.matches, 10);
  int32 handedOn = 0;
  for (int threads : {2, 8}) {
    SearchOptions options;
    options.threads = threads;
    options.reportUnsettled = true;
    std::atomic<int> files{0};
    options.beforeFile = [&] {
      if (files++ % 4 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(3));
    };
    SearchRun many = search_with(tree.root(), {"text/plain"}, "needle", options);
    EXPECT_EQ(many.events, one.events) << threads << " threads";
    handedOn += many.outcome.handedOn;
  }
  EXPECT_GT(handedOn, 0);
}

// Big files scanned in pieces by whichever threads are free, among small ones: matches across
// the pieces' edges, NUL bytes at the edges, a match that runs across a NUL, a needle longer
// than a piece; on both ways of reading a stored type. The reports are one thread's, in order.
TEST(ParallelTest, FilesScannedInPiecesReportWhatOneThreadReports) {
  TempTree tree;
  std::mt19937 random(28);
  const off_t piece = 2 * kSearchBlockSize;
  auto letters = [&](size_t length) {
    std::string text(length, ' ');
    for (char& c : text) c = "abcdefghij \n"[random() % 12];
    return text;
  };
  const std::string longNeedle = letters(3000);
  for (int f = 0; f < 30; ++f) {
    std::string content = letters(f % 5 == 0 ? 100 : 4096 + random() % 40000);
    size_t edges = std::max<size_t>(1, content.size() / size_t(piece));
    size_t edge = (1 + random() % edges) * size_t(piece);
    switch (f % 6) {
      case 1: content.replace(std::min(edge - 3, content.size() - 6), 6, "NeEdLe"); break;
      case 2:  // the block before the edge ends its text at the NUL, and the next goes on
        content.replace(std::min(edge - 10, content.size() - 4), 4, std::string("nee\0", 4));
        content.replace(std::min(edge, content.size() - 3), 3, "dle");
        break;
      case 3: content.insert(std::min(edge - 1000, content.size()), longNeedle); break;
      case 4: content[std::min(edge, content.size() - 1)] = '\0'; break;
    }
    tree.file("f" + std::to_string(f % 3) + "/" + std::to_string(f) + ".txt", content);
  }
  for (const std::string& needle : {std::string("needle"), longNeedle}) {
    SearchRun one = search(tree.root(), {"text/plain"}, needle, 1, false);
    EXPECT_GT(one.outcome.matches, 4) << needle.size();
    for (bool getxattrat : {true, false}) {
      use_getxattrat_for_tests(getxattrat);
      for (int threads : {2, 8}) {
        SearchRun many = search(tree.root(), {"text/plain"}, needle, threads, true, piece);
        EXPECT_EQ(many.events, one.events) << needle.size() << ", " << threads << " threads";
        EXPECT_GT(many.outcome.filesInPieces, 10);
      }
    }
    use_getxattrat_for_tests(true);
  }
}

// Where only the matches' types are wanted, stored types are read after the text is found:
// the same files match, whatever the name, the stored type and the size say, on one thread
// and on two.
TEST(ParallelTest, StoredTypesReadAfterTheTextFindTheSameMatches) {
  TempTree tree;
  const std::string big(3 << 20, 'x');
  int n = 0;
  for (const char* name : {"a.txt", "b.html", "c.png", "plain", "d.c"}) {
    for (const char* stored : {"", "text/plain", "text/html", "image/png", "application/x-shellscript"}) {
      for (const std::string& content : {std::string("a needle"), std::string("none"), "<html>" + big + " needle",
                                         std::string("#!/bin/sh\necho needle")}) {
        tree.file("t" + std::to_string(n++) + "/" + name, content, stored);
      }
    }
  }
  auto matches = [&](const std::vector<std::string>& types, int threads, bool typesOfUnmatched) {
    SearchOptions options;
    options.threads = threads;
    options.typesOfUnmatched = typesOfUnmatched;
    std::vector<std::string> matched;
    for (const std::string& event : search_with(tree.root(), types, "NEEDLE", options).events)
      if (event.rfind("match ", 0) == 0) matched.push_back(event);
    return matched;
  };
  for (const auto& types : std::vector<std::vector<std::string>>{
           {"text/plain"}, {"text/html"}, {"text/plain", "text/x-sh"}, installed_text_types()}) {
    std::vector<std::string> expected = matches(types, 1, true);
    EXPECT_FALSE(expected.empty()) << types[0];
    for (int threads : {1, 2}) EXPECT_EQ(matches(types, threads, false), expected) << types[0] << ", " << threads;
  }
}

size_t count_entries(const char* folder) {
  size_t count = 0;
  if (DIR* dir = opendir(folder)) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

// A search stopped from another thread ends soon, reports nothing more, and leaves no thread
// and no descriptor behind.
TEST(ParallelTest, AStoppedSearchEndsPromptlyAndLeavesNothingBehind) {
  size_t fds = count_entries("/proc/self/fd"), tasks = count_entries("/proc/self/task");
  std::atomic<bool> stop{false};
  BList strings;
  std::string text = "xylophone-absent";
  strings.AddItem(text.data());
  RecordingSink sink;
  SearchOptions options;
  options.threads = 8;
  options.stop = &stop;
  options.beforeFile = [&] {
    std::this_thread::sleep_for(std::chrono::microseconds(200));  // a search of minutes
  };
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop = true;
  });
  auto started = std::chrono::steady_clock::now();
  SearchOutcome outcome = search_folder(*std::make_unique<BDirectory>("/usr"), TypeSet(installed_text_types()), SearchStrings(strings), sink, options);
  auto took = std::chrono::steady_clock::now() - started;
  stopper.join();
  EXPECT_EQ(outcome.incomplete, B_CANCELED);
  EXPECT_LT(took, std::chrono::milliseconds(600));
  EXPECT_EQ(count_entries("/proc/self/fd"), fds);
  EXPECT_EQ(count_entries("/proc/self/task"), tasks);
}

// Batches in flight hold their folders' descriptors: with a tree of many one-file folders and
// a small descriptor limit, eight threads still find every file.
TEST(ParallelTest, ManyThreadsKeepWithinASmallDescriptorLimit) {
  TempTree tree;
  for (int i = 0; i < 600; ++i) tree.file("d" + std::to_string(i) + "/e/f", "needle");
  rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  rlimit low = old;
  low.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  SearchRun run = search(tree.root(), {"text/plain"}, "needle", 8, true);
  setrlimit(RLIMIT_NOFILE, &old);
  EXPECT_EQ(run.outcome.incomplete, B_OK);
  EXPECT_EQ(run.outcome.matches, 600);
}

// Under any descriptor limit at which one thread completes its search, more threads report
// exactly what it reports (they read with fewer threads, or wait for a descriptor), and a limit
// at which a file cannot be opened is never a silent non-match.
TEST(ParallelTest, UnderATightDescriptorLimitThreadsReportWhatOneThreadReports) {
  TempTree tree;
  for (int i = 0; i < 40; ++i) {
    std::string folder = "d" + std::to_string(i) + "/";
    tree.file(folder + "a/x.txt", i % 3 == 0 ? "a needle here" : "nothing");
    tree.file(folder + "b.txt", "needle");
    tree.file(folder + "c.txt", "hay");
  }
  rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  size_t open = open_descriptor_count();
  int completed = 0;
  for (size_t spare : {3, 4, 5, 6, 8, 9, 12, 16, 24}) {
    rlimit low = old;
    low.rlim_cur = open + spare;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    SearchRun one = search(tree.root(), {"text/plain"}, "needle", 1, false);
    std::vector<SearchRun> many;
    for (int threads : {2, 8}) many.push_back(search(tree.root(), {"text/plain"}, "needle", threads, true));
    setrlimit(RLIMIT_NOFILE, &old);
    bool oneCompleted = one.outcome.incomplete == B_OK && one.outcome.unreadable == 0;
    if (oneCompleted) ++completed;
    for (const SearchRun& run : many) {
      if (oneCompleted) {
        EXPECT_EQ(run.events, one.events) << spare << " spare descriptors";
        EXPECT_EQ(run.outcome.unreadable, 0);
        EXPECT_EQ(run.outcome.incomplete, B_OK);
      } else {
        // Nothing lost in silence: fewer matches come with a file named or the walk cut short.
        bool said = run.outcome.unreadable > 0 || run.outcome.incomplete != B_OK;
        EXPECT_TRUE(run.outcome.matches == 54 || said) << spare << " spare descriptors";
      }
    }
  }
  EXPECT_GE(completed, 5);
}

}  // namespace

namespace {

// Names are matched byte by byte whatever the program's locale (a desktop application's is
// multibyte), as tarnwickloft-find matches them, and the caller's locale is left as it was.
TEST(ParallelTest, TheCallersLocaleIsLeftAsItWas) {
  TempTree tree;
  tree.file("a.txt", "needle");
  locale_t utf8 = newlocale(LC_ALL_MASK, "C.UTF-8", locale_t(nullptr));
  ASSERT_NE(utf8, locale_t(nullptr));
  locale_t before = uselocale(utf8);
  for (int threads : {1, 2}) {
    SearchRun run = search(tree.root(), {"text/plain"}, "needle", threads, false);
    EXPECT_EQ(run.outcome.matches, 1);
    EXPECT_EQ(uselocale(locale_t(nullptr)), utf8);
    EXPECT_EQ(MB_CUR_MAX, 6u);
  }
  uselocale(before);
  freelocale(utf8);
}

}  // namespace
