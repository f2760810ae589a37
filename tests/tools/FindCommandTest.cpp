#include <algorithm>
#include <chrono>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <cstdio>
#include <sstream>
#include <sys/stat.h>
#include <sys/resource.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "StallMount.h"
#include "TempTree.h"
#include "saved/SavedSearch.h"
#include "tools/FindCommand.h"

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

std::string drain(FILE* file) {
  std::string text;
  rewind(file);
  for (int c; (c = fgetc(file)) != EOF;) text += char(c);
  fclose(file);
  return text;
}

Outcome find(std::vector<std::string> args) {
  args.insert(args.begin(), "tarnwickloft-find");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  FILE* out = tmpfile();
  FILE* err = tmpfile();
  int status = run_find_command(int(args.size()), argv.data(), out, err);
  return {status, drain(out), drain(err)};
}

class FindCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree.file("one.txt", "The Needle is here");
    tree.file("sub/two.txt", "needle again");
    tree.file("page.html", "<b>needle</b>", "text/html");
    tree.file("picture.png", "needle", "image/png");
  }
  TempTree tree;
};

TEST_F(FindCommandTest, PrintsNamesOrPathsAndSaysWhetherAnythingMatched) {
  Outcome names = find({"--type", "text/plain", tree.root(), "NEEDLE"});
  EXPECT_EQ(names.status, 0);
  EXPECT_EQ(names.err, "");
  std::string a = "one.txt\ntwo.txt\n", b = "two.txt\none.txt\n";
  EXPECT_TRUE(names.out == a || names.out == b) << names.out;

  Outcome paths = find({"--paths", "--type", "text/html", tree.root(), "needle"});
  EXPECT_EQ(paths.status, 0);
  EXPECT_EQ(paths.out, tree.path("page.html") + "\n");

  Outcome none = find({tree.root(), "absent text"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "");
}

TEST_F(FindCommandTest, WithoutTypesEveryInstalledTextTypeIsSearched) {
  Outcome all = find({"--paths", tree.root(), "needle"});
  EXPECT_EQ(all.status, 0);
  for (const char* file : {"one.txt", "sub/two.txt", "page.html"})
    EXPECT_NE(all.out.find(tree.path(file) + "\n"), std::string::npos) << file;
  EXPECT_EQ(all.out.find("picture.png"), std::string::npos);
}

TEST_F(FindCommandTest, OperandsThatLookLikeOptionsComeAfterTheDoubleDash) {
  tree.file("-dash/x.txt", "-v");
  Outcome dashed = find({"--", tree.path("-dash"), "-v"});
  EXPECT_EQ(dashed.status, 0) << dashed.err;
  EXPECT_EQ(dashed.out, "x.txt\n");
}

TEST_F(FindCommandTest, ErrorsNameTheFolderOrOption) {
  Outcome missing = find({tree.path("nowhere"), "x"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find(tree.path("nowhere")), std::string::npos);
  Outcome file = find({tree.path("one.txt"), "x"});
  EXPECT_EQ(file.status, 2);
  Outcome bad = find({"--colour", tree.root(), "x"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("--colour"), std::string::npos);
  EXPECT_EQ(find({"--type"}).status, 2);
  EXPECT_EQ(find({tree.root()}).status, 2);
  Outcome help = find({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: tarnwickloft-find"), std::string::npos);
}

// Any number of threads prints what one thread prints, in the same order; a number that is
// not one is refused by name.
TEST_F(FindCommandTest, ThreadsChangeNothingButTheTime) {
  for (int i = 0; i < 40; ++i) tree.file("many/d" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".txt", "needle");
  Outcome one = find({"--paths", "-j", "1", tree.root(), "needle"});
  EXPECT_EQ(one.status, 0);
  for (const char* threads : {"2", "5", "64"}) {
    Outcome many = find({"--paths", "-j", threads, tree.root(), "needle"});
    EXPECT_EQ(many.out, one.out) << threads << " threads";
    EXPECT_EQ(many.status, 0);
  }
  EXPECT_EQ(find({"--paths", "--threads=3", tree.root(), "needle"}).out, one.out);
  for (const char* bad : {"0", "-2", "two", "3x", "100000"}) {
    Outcome refused = find({"-j", bad, tree.root(), "needle"});
    EXPECT_EQ(refused.status, 2) << bad;
    EXPECT_NE(refused.err.find(std::string("'") + bad + "'"), std::string::npos) << refused.err;
  }
}

// Reads one line from a descriptor, waiting at most until the deadline; "" when none came.
std::string read_line(int fd, std::chrono::steady_clock::time_point deadline) {
  std::string line;
  while (line.empty() || line.back() != '\n') {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready{fd, POLLIN, 0};
    char c;
    if (left.count() <= 0 || poll(&ready, 1, int(left.count())) != 1 || read(fd, &c, 1) != 1) return "";
    line += c;
  }
  return line;
}

// A match is printed as soon as every earlier one is known, whatever the threads: a file that
// is slow to read, after it in the walk, holds back only what comes after it.
TEST_F(FindCommandTest, AMatchBeforeASlowFileIsPrintedAtOnce) {
  std::string mount = tree.folder("stalled");
  const int stall = 2;  // seconds each read of slow.txt takes
  StallMount stalled(mount, {std::to_string(stall), "slow.txt", "fast.txt"});
  if (!stalled.mounted()) GTEST_SKIP() << "no FUSE mount here (needs root and /dev/fuse)";
  for (const char* threads : {"1", "2", "8"}) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    FILE* out = fdopen(ends[1], "w");
    FILE* err = tmpfile();
    auto started = std::chrono::steady_clock::now();
    std::thread search([&] {
      std::vector<std::string> args{"tarnwickloft-find", "-j", threads, "--type", "text/plain", mount, "needle"};
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      run_find_command(int(args.size()), argv.data(), out, err);
      fclose(out);
    });
    std::string first = read_line(ends[0], started + std::chrono::seconds(stall * 4));
    std::chrono::duration<double> firstAfter = std::chrono::steady_clock::now() - started;
    std::string second = read_line(ends[0], started + std::chrono::seconds(stall * 8));
    std::chrono::duration<double> secondAfter = std::chrono::steady_clock::now() - started;
    search.join();
    close(ends[0]);
    fclose(err);
    EXPECT_EQ(first, "fast.txt\n") << threads << " threads";
    EXPECT_LT(firstAfter.count(), stall / 2.0) << threads << " threads";
    EXPECT_EQ(second, "slow.txt\n") << threads << " threads";
    EXPECT_GE(secondAfter.count(), stall) << threads << " threads";
  }
}

TEST_F(FindCommandTest, TypeOfPrintsTheTypeReadForEachFile) {
  tree.file("untyped.html", "<p>", "");
  tree.file("blob", std::string("\x01\x02\x00\xff", 4), "");
  Outcome types = find({"--type-of", tree.path("one.txt"), tree.path("untyped.html"), tree.path("blob")});
  EXPECT_EQ(types.status, 0);
  EXPECT_EQ(types.out, tree.path("one.txt") + ": text/plain\n" + tree.path("untyped.html") +
                           ": text/html\n" + tree.path("blob") + ": no type\n");
  EXPECT_EQ(find({"--type-of", tree.path("gone")}).status, 2);
}

TEST_F(FindCommandTest, RunsASavedSearch) {
  BMessage record(four_cc("arch"));
  record.AddString("Types", "text/plain");
  record.AddString("TC_SearchDir", tree.root().c_str());
  record.AddString("TC_SearchFor", "AGAIN");
  record.AddBool("ShowPaths", true);
  std::string saved = tree.path("saved");
  ASSERT_EQ(write_saved_search(saved.c_str(), record), B_OK);
  Outcome run = find({"--saved-search", saved});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, tree.path("sub/two.txt") + "\n");

  BMessage noTypes(four_cc("arch"));
  noTypes.AddString("TC_SearchDir", tree.root().c_str());
  ASSERT_EQ(write_saved_search(saved.c_str(), noTypes), B_OK);
  EXPECT_EQ(find({"--saved-search", saved}).status, 1);  // no type chosen: nothing matches
  EXPECT_EQ(find({"--saved-search", tree.path("one.txt")}).status, 2);
  EXPECT_EQ(find({"--saved-search", saved, tree.root(), "x"}).status, 2);
}

}  // namespace

namespace {

// A chain of 100 folders with the only match at the bottom, searched with a lower limit on
// open descriptors than a desktop session's: found; with no descriptor to spare, an error.
TEST(FindCommandLimitsTest, DepthIsNotBoundedByTheDescriptorLimit) {
  TempTree tree;
  std::string relative;
  for (int level = 0; level < 100; ++level) relative += "level/";
  tree.file(relative + "bottom.txt", "the needle");
  rlimit saved;
  getrlimit(RLIMIT_NOFILE, &saved);
  rlimit low = saved;
  low.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  Outcome found = find({"--type", "text/plain", tree.root(), "needle"});
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
  std::vector<int> fillers;
  low.rlim_cur = rlim_t(fill_descriptor_gaps(&fillers) + 3);  // the output files and the top folder
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  Outcome starved = find({"--type", "text/plain", tree.root(), "needle"});
  setrlimit(RLIMIT_NOFILE, &saved);
  for (int fd : fillers) close(fd);
  EXPECT_EQ(found.status, 0);
  EXPECT_EQ(found.out, "bottom.txt\n");
  EXPECT_EQ(starved.status, 2);
  EXPECT_NE(starved.err.find("could not be searched"), std::string::npos) << starved.err;
}

}  // namespace

namespace {

// One untyped file of each of 21 common textual formats, all holding the word, beside binary
// files that hold it too: with every text type chosen, exactly the textual ones are found.
TEST(FindCommandTextTest, EveryTextualFormatIsTextAndNoBinaryOneIs) {
  TempTree tree;
  const std::vector<std::pair<std::string, std::string>> textual = {
      {"a.txt", "word"}, {"b.html", "<p>word</p>"}, {"c.c", "int word;"}, {"d.h", "extern int word;"},
      {"e.py", "word = 1"}, {"f.css", "p { word: 1 }"}, {"m.md", "# word"}, {"s.csv", "word,1"},
      {"README", "the word\n"}, {"g.xml", "<?xml version=\"1.0\"?><a>word</a>"},
      {"h.sh", "echo word"}, {"runme", "#!/bin/sh\necho word\n"}, {"i.pl", "print 'word';"},
      {"j.js", "let word;"}, {"k.yaml", "word: 1"}, {"l.sql", "select word;"},
      {"n.json", "{\"word\": 1}"}, {"o.toml", "word = 1"}, {"p.rb", "puts 'word'"},
      {"q.php", "<?php echo 'word'; ?>"}, {"r.desktop", "[Desktop Entry]\nName=word\n"}};
  std::vector<std::string> expected;
  for (const auto& [name, content] : textual) {
    tree.file(name, content, "");
    expected.push_back(name);
  }
  chmod(tree.path("runme").c_str(), 0755);
  tree.file("pic.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR word", 22), "");
  tree.file("picture", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR word", 22), "");
  tree.file("archive", std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03word", 14), "");
  tree.file("program", std::string("\x7f" "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x3e\0word", 24), "");
  Outcome all = find({tree.root(), "word"});
  std::vector<std::string> found;
  std::istringstream lines(all.out);
  for (std::string line; std::getline(lines, line);) found.push_back(line);
  std::sort(found.begin(), found.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(found, expected);
  EXPECT_EQ(find({"--type-of", tree.path("runme"), tree.path("k.yaml")}).out,
            tree.path("runme") + ": text/x-sh\n" + tree.path("k.yaml") + ": text/yaml\n");
}

// Other programs store the application/ names; saved searches and --type may use them too.
TEST(FindCommandTextTest, ApplicationNamesOfTextualTypesSelectTheSameFiles) {
  TempTree tree;
  tree.file("stored", "echo word", "application/x-shellscript");
  tree.file("guessed.sh", "echo word", "");
  for (const char* type : {"text/x-sh", "application/x-shellscript", "Application/X-ShellScript"}) {
    Outcome typed = find({"--type", type, tree.root(), "word"});
    EXPECT_EQ(typed.status, 0) << type;
    EXPECT_EQ(std::count(typed.out.begin(), typed.out.end(), '\n'), 2) << type << typed.out;
    BMessage record(kRecordCode);
    SearchState state;
    state.types = {type};
    state.folder = tree.root();
    state.text = "word";
    add_record_fields(state, &record);
    std::string saved = tree.path("search");
    ASSERT_EQ(write_saved_search(saved.c_str(), record), B_OK);
    Outcome restored = find({"--saved-search", saved});
    EXPECT_EQ(std::count(restored.out.begin(), restored.out.end(), '\n'), 2) << type << restored.out;
  }
}

}  // namespace

namespace {

// Documents through the command: -d adds their types to the text ones, -n shows the line, and
// a document that cannot be read is named with its reason and makes the status 2. A stand-in
// pdftotext prints the document's bytes as its text, with a page break before "second".
TEST(FindDocumentsTest, DocumentsAreSearchedByTextNamedWhenUnreadableAndShownWithTheirPage) {
  TempHome home;
  TempTree tree;
  std::string extractor = tree.file("bin/pdftotext", "#!/bin/sh\nsed 's/second/\\f&/' \"$4\"\n", "");
  chmod(extractor.c_str(), 0755);
  setenv("TARNWICKLOFT_PDFTOTEXT", extractor.c_str(), 1);
  tree.file("docs/report.pdf", "%PDF- first page\nsecond page with the needle\n", "");
  tree.file("docs/notes.txt", "a needle in plain text", "");
  tree.file("docs/broken.docx", "PK\x03\x04 not really a zip", "");
  Outcome text = find({tree.path("docs"), "needle"});
  EXPECT_EQ(text.out, "notes.txt\n");  // without -d, the text types only
  EXPECT_EQ(text.status, 0);
  Outcome all = find({"-d", "-n", tree.path("docs"), "NEEDLE"});
  std::vector<std::string> lines;
  std::istringstream stream(all.out);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"notes.txt: a needle in plain text",
                                             "report.pdf: page 2: second page with the needle"}));
  EXPECT_EQ(all.err, "tarnwickloft-find: cannot read '" + tree.path("docs/broken.docx") + "': damaged data\n");
  EXPECT_EQ(all.status, 2);
  Outcome typed = find({"--type", "application/pdf", "--no-cache", tree.path("docs"), "needle"});
  EXPECT_EQ(typed.out, "report.pdf\n");
  EXPECT_EQ(typed.status, 0);
  unsetenv("TARNWICKLOFT_PDFTOTEXT");
}

}  // namespace
