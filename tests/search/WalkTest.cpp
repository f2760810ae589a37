#include <algorithm>
#include <atomic>
#include <cstdio>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <dirent.h>
#include <malloc.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "TempTree.h"
#include "platform/interface/MenuItem.h"
#include "platform/NodeInfo.h"
#include "platform/Path.h"
#include "search/Search.h"
#include "ListSearch.h"

namespace {

// A type list of menu items, as the window's selected type list holds them.
class TypeList {
 public:
  explicit TypeList(std::vector<std::string> labels) {
    for (const std::string& label : labels) {
      items_.push_back(std::make_unique<BMenuItem>(label.c_str(), nullptr));
      list.AddItem(items_.back().get());
    }
  }
  std::vector<std::string> Labels() const {
    std::vector<std::string> labels;
    for (int32 i = 0; i < list.CountItems(); ++i)
      labels.push_back(static_cast<BMenuItem*>(list.ItemAt(i))->Label());
    return labels;
  }
  BList list;

 private:
  std::vector<std::unique_ptr<BMenuItem>> items_;
};

struct WalkResult {
  int32 count;
  std::vector<std::string> paths;
};

WalkResult walk(const std::string& root, BList& types, std::string text, BList* results = nullptr) {
  BDirectory dir(root.c_str());
  EXPECT_EQ(dir.InitCheck(), B_OK);
  BList strings, own;
  BList& found = results ? *results : own;
  strings.AddItem(text.data());
  WalkResult result{f_dirsearch_BMI(dir, types, found, strings), {}};
  for (int32 i = 0; i < found.CountItems(); ++i) {
    auto* ref = static_cast<entry_ref*>(found.ItemAt(i));
    BPath path(ref);
    result.paths.push_back(path.Path() ? path.Path() : std::string("?") + ref->name);
    delete ref;
  }
  return result;
}

// The expected results, from a plain recursive walk in the order readdir lists entries.
void expected_walk(const std::string& folder, const std::string& type, const std::string& text,
                   std::vector<std::string>* out) {
  DIR* dir = opendir(folder.c_str());
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir))
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
      names.push_back(entry->d_name);
  closedir(dir);
  for (const std::string& name : names) {
    std::string path = folder + "/" + name;
    struct stat st;
    lstat(path.c_str(), &st);
    if (S_ISDIR(st.st_mode)) {
      expected_walk(path, type, text, out);
    } else if (S_ISREG(st.st_mode)) {
      char stored[B_MIME_TYPE_LENGTH] = {};
      getxattr(path.c_str(), "user.mime_type", stored, sizeof stored - 1);
      std::ifstream in(path, std::ios::binary);
      std::string content((std::istreambuf_iterator<char>(in)), {});
      for (char& c : content) c = char(tolower(static_cast<unsigned char>(c)));
      if (strcasecmp(stored, type.c_str()) == 0 && content.find(text) != std::string::npos)
        out->push_back(path);
    }
  }
}

TEST(WalkTest, FindsMatchesDepthFirstInListingOrderWithoutFollowingLinks) {
  TempTree tree;
  for (const char* name : {"f1.txt", "f2.txt", "with space.txt", "-dash.txt", "q\"uote.txt"})
    tree.file(name, "a needle here");
  tree.file("s/g.txt", "needle");
  tree.file("s/deeper/h.txt", "more needle");
  tree.file("s/other.txt", "nothing");
  tree.file("s/empty.txt", "");
  tree.file("image.png", "needle", "image/png");
  tree.file("shouting.txt", "NEEDLE", "TEXT/Plain");
  tree.link("link-to-file", "f1.txt");
  tree.link("link-to-folder", "s");
  tree.link("s/loop", "..");
  mkfifo(tree.path("pipe").c_str(), 0600);

  TypeList types({"text/plain"});
  WalkResult result = walk(tree.root(), types.list, "needle");
  std::vector<std::string> expected;
  expected_walk(tree.root(), "text/plain", "needle", &expected);
  EXPECT_EQ(result.paths, expected) << tree.Listing();
  EXPECT_EQ(result.count, int32(expected.size()));
  EXPECT_EQ(expected.size(), 8u);  // the five, g, h and the shouting one; no link, no image
}

TEST(WalkTest, TheSubfolderMatchesComeBetweenTheEntriesAroundIt) {
  TempTree tree;
  tree.file("f1", "x");
  tree.file("s/g", "x");
  tree.file("f2", "x");
  std::vector<std::string> names;
  BDirectory dir(tree.root().c_str());
  BEntry entry;
  while (dir.GetNextEntry(&entry) == B_OK) names.push_back(entry.Name());
  std::vector<std::string> expected;
  for (const std::string& name : names)
    expected.push_back(tree.path(name == "s" ? "s/g" : name));
  TypeList types({"text/plain"});
  EXPECT_EQ(walk(tree.root(), types.list, "x").paths, expected);
}

TEST(WalkTest, AppendsToTheResultsAndCountsOnlyWhatItAppended) {
  TempTree tree;
  tree.file("a", "match");
  tree.file("b/c", "match");
  BList results;
  entry_ref* earlier = new entry_ref(1, 2, "earlier");
  results.AddItem(earlier);
  TypeList types({"text/plain"});
  WalkResult result = walk(tree.root(), types.list, "match", &results);
  EXPECT_EQ(result.count, 2);
  EXPECT_EQ(result.paths.size(), 3u);
}

// The read system calls this process has made, from /proc/self/io.
long read_calls() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long value;
  while (io >> key >> value)
    if (key == "syscr:") return value;
  return -1;
}

TEST(WalkTest, FilesOfTypesNotSelectedAreNeverRead) {
  TempTree tree;
  for (int i = 0; i < 50; ++i) tree.file("d" + std::to_string(i % 5) + "/f" + std::to_string(i), "text");
  // The first walk reads /proc/self/maps for its stack size, and the first with a type the
  // MIME database's caches.
  TypeList warmUp({"text/html"});
  walk(tree.root(), warmUp.list, "");
  long overhead = -read_calls();  // reading /proc/self/io is itself a read or two
  overhead += read_calls();
  TypeList none({});
  long before = read_calls();
  WalkResult result = walk(tree.root(), none.list, "text");
  EXPECT_EQ(read_calls() - before, overhead);
  EXPECT_EQ(result.count, 0);

  TypeList other({"text/html"});
  before = read_calls();
  walk(tree.root(), other.list, "");
  EXPECT_EQ(read_calls() - before, overhead);

  TypeList plain({"text/plain"});
  before = read_calls();
  EXPECT_EQ(walk(tree.root(), plain.list, "").count, 50);
  EXPECT_GE(read_calls() - before, 50);  // the measure does see the reads
}

TEST(TypeFilterTest, AMatchRotatesTheListAndAMissLeavesIt) {
  TypeList types({"A/x", "B/x", "C/x", "D/x"});
  char c[] = "c/X";
  EXPECT_TRUE(f_check_MIME(c, types.list));
  EXPECT_EQ(types.Labels(), (std::vector<std::string>{"C/x", "D/x", "A/x", "B/x"}));
  char e[] = "e/x";
  EXPECT_FALSE(f_check_MIME(e, types.list));
  EXPECT_EQ(types.Labels(), (std::vector<std::string>{"C/x", "D/x", "A/x", "B/x"}));
  char first[] = "C/X";
  EXPECT_TRUE(f_check_MIME(first, types.list));
  EXPECT_EQ(types.Labels(), (std::vector<std::string>{"C/x", "D/x", "A/x", "B/x"}));
  TypeList empty({});
  EXPECT_FALSE(f_check_MIME(c, empty.list));
}

TEST(WalkTest, TheTypeListKeepsTheOrderTheLastFileLeft) {
  TempTree tree;
  tree.file("only.html", "x", "text/html");
  TypeList types({"text/plain", "text/css", "text/html", "text/csv"});
  walk(tree.root(), types.list, "x");
  EXPECT_EQ(types.Labels(),
            (std::vector<std::string>{"text/html", "text/csv", "text/plain", "text/css"}));
}

// Makes a chain of `depth` nested folders named "d" through descriptors, since its path is
// longer than a path may be; puts a matching file at every tenth level.
void make_deep_tree(const std::string& root, int depth) {
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 1; level <= depth; ++level) {
    ASSERT_EQ(mkdirat(fd, "d", 0700), 0);
    int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
    if (level % 10 == 0) {
      int file = openat(fd, "f", O_WRONLY | O_CREAT, 0600);
      ASSERT_EQ(write(file, "deep", 4), 4);
      ASSERT_EQ(fsetxattr(file, "user.mime_type", "text/plain", 10, 0), 0);
      close(file);
    }
  }
  close(fd);
}

int open_descriptors() {
  int count = 0;
  for (auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

TEST(WalkTest, ATreeDeeperThanTheDescriptorLimitIsWalkedToTheBottom) {
  TempTree tree;
  make_deep_tree(tree.root(), 300);
  tree.file("after", "deep");  // listed after the deep chain or before it: found either way
  rlimit saved;
  getrlimit(RLIMIT_NOFILE, &saved);
  int before = open_descriptors();
  rlimit low = saved;
  low.rlim_cur = rlim_t(before + 12);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  TypeList types({"text/plain"});
  BDirectory dir(tree.root().c_str());
  BList results, strings;
  std::string text = "deep";
  strings.AddItem(text.data());
  status_t incomplete = B_ERROR;
  int32 count = f_dirsearch_BMI(dir, types.list, results, strings, &incomplete);
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(count, 31);
  EXPECT_EQ(incomplete, B_OK);
  std::string deepest = tree.root();
  for (int level = 0; level < 300; ++level) deepest += "/d";
  std::vector<std::string> folders;
  for (int32 i = 0; i < results.CountItems(); ++i) {
    auto* ref = static_cast<entry_ref*>(results.ItemAt(i));
    folders.push_back(ref->directory_path());
    delete ref;
  }
  EXPECT_NE(std::find(folders.begin(), folders.end(), deepest), folders.end());
  dir.Unset();
  EXPECT_EQ(open_descriptors(), before);
}

TEST(WalkTest, WhenNoDescriptorIsLeftTheWalkSaysSo) {
  TempTree tree;
  make_deep_tree(tree.root(), 20);
  rlimit saved;
  getrlimit(RLIMIT_NOFILE, &saved);
  BDirectory dir(tree.root().c_str());
  std::vector<int> fillers;
  rlimit none = saved;
  none.rlim_cur = rlim_t(fill_descriptor_gaps(&fillers));  // not one more can be opened
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  TypeList types({"text/plain"});
  BList results, strings;
  std::string text = "deep";
  strings.AddItem(text.data());
  status_t incomplete = B_OK;
  f_dirsearch_BMI(dir, types.list, results, strings, &incomplete);
  setrlimit(RLIMIT_NOFILE, &saved);
  for (int fd : fillers) close(fd);
  EXPECT_EQ(incomplete, B_NO_MORE_FDS);
}

TEST(WalkTest, ATreeDeeperThanTheStackIsWalkedToTheBottom) {
  TempTree tree;
  make_deep_tree(tree.root(), 12000);
  struct Job {
    std::string root;
    int32 count = -1;
  } job{tree.root()};
  // A thread with a small stack that a recursion this deep would overflow.
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 1 << 20);
  pthread_t thread;
  auto run = [](void* arg) -> void* {
    auto* job = static_cast<Job*>(arg);
    TypeList types({"text/plain"});
    BList results, strings;
    std::string text = "deep";
    strings.AddItem(text.data());
    BDirectory dir(job->root.c_str());
    job->count = f_dirsearch_BMI(dir, types.list, results, strings);
    for (int32 i = 0; i < results.CountItems(); ++i) delete static_cast<entry_ref*>(results.ItemAt(i));
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, run, &job), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  EXPECT_EQ(job.count, 1200);
}

// Each match keeps its folder's path shared with the other refs of that folder and its
// ancestors', so a deep tree of long names costs memory per match, not per match times depth.
TEST(WalkTest, TheRefsOfADeepTreeShareTheirFoldersPaths) {
  TempTree tree;
  std::string name(250, 'n');
  int fd = open(tree.root().c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < 2000; ++level) {
    ASSERT_EQ(mkdirat(fd, name.c_str(), 0700), 0);
    int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
    int file = openat(fd, "f", O_WRONLY | O_CREAT, 0600);
    ASSERT_EQ(write(file, "deep", 4), 4);
    ASSERT_EQ(fsetxattr(file, "user.mime_type", "text/plain", 10, 0), 0);
    close(file);
  }
  close(fd);
  TypeList types({"text/plain"});
  BDirectory dir(tree.root().c_str());
  BList results, strings;
  std::string text = "deep";
  strings.AddItem(text.data());
  size_t before = mallinfo2().uordblks;
  ASSERT_EQ(f_dirsearch_BMI(dir, types.list, results, strings), 2000);
  size_t used = mallinfo2().uordblks - before;
  // Copied paths would take about 2000 * 2000 * 251 / 2 bytes, half a gigabyte.
  EXPECT_LT(used, size_t(16) << 20);
  auto* deepest = static_cast<entry_ref*>(results.LastItem());
  EXPECT_EQ(deepest->directory_path().size(), tree.root().size() + 2000 * 251);
  for (int32 i = 0; i < results.CountItems(); ++i) delete static_cast<entry_ref*>(results.ItemAt(i));
}

TEST(WalkTest, UnreadableFoldersAndFilesArePassedOver) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads everything";
  TempTree tree;
  tree.file("open/a", "x");
  tree.file("closed/b", "x");
  tree.file("locked", "x");
  chmod(tree.path("closed").c_str(), 0);
  chmod(tree.path("locked").c_str(), 0);
  TypeList types({"text/plain"});
  WalkResult result = walk(tree.root(), types.list, "x");
  chmod(tree.path("closed").c_str(), 0700);
  EXPECT_EQ(result.paths, std::vector<std::string>{tree.path("open/a")});
}

}  // namespace

namespace {

TEST(WalkTest, WithNoTypeSelectedNotEvenAnUntypedFileIsRead) {
  TempTree tree;
  for (int i = 0; i < 20; ++i) tree.file("d/README" + std::to_string(i), "text without a type", "");
  TypeList warmUp({});
  walk(tree.root(), warmUp.list, "");
  long overhead = -read_calls();
  overhead += read_calls();
  TypeList none({});
  long before = read_calls();
  EXPECT_EQ(walk(tree.root(), none.list, "text").count, 0);
  EXPECT_EQ(read_calls() - before, overhead);
}

// The content guess is kept for the life of the process, keyed by the file's status: a file
// changed in any way, even to the same size and modification time, is guessed anew.
TEST(TypeCacheTest, AChangedFileIsNeverServedAnOldType) {
  TempTree tree;
  std::string path = tree.file("notes", "just some words about a needle\n", "");
  TypeList types({"text/plain"});
  EXPECT_EQ(walk(tree.root(), types.list, "needle").count, 1);
  EXPECT_EQ(walk(tree.root(), types.list, "needle").count, 1);  // from the cache

  // The same size and modification time, other content: the change time still moves.
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
  png += std::string(size_t(st.st_size) - png.size() - 6, 'x') + "needle";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << png;
  timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(walk(tree.root(), types.list, "needle").count, 0);

  std::ofstream(path, std::ios::binary | std::ios::trunc) << "a needle again\n";
  EXPECT_EQ(walk(tree.root(), types.list, "needle").count, 1);
  ASSERT_EQ(setxattr(path.c_str(), "user.mime_type", "image/png", 9, 0), 0);
  EXPECT_EQ(walk(tree.root(), types.list, "needle").count, 0);
  ASSERT_EQ(removexattr(path.c_str(), "user.mime_type"), 0);
  EXPECT_EQ(walk(tree.root(), types.list, "needle").count, 1);
  std::filesystem::rename(path, tree.path("notes.png"));  // now the name decides
  EXPECT_EQ(walk(tree.root(), types.list, "needle").count, 0);
  std::filesystem::rename(tree.path("notes.png"), tree.path("memo"));
  EXPECT_EQ(walk(tree.root(), types.list, "needle").count, 1);
}

// The stored type wins over the name whichever way it is read: by name through getxattrat, or,
// on older kernels, from the open file where the name makes it a candidate and by path where
// the name refuses it. Both ways find the same files and leave the type list in one order.
TEST(TypeCacheTest, TheAttributeIsReadWithAndWithoutGetxattrat) {
  TempTree tree;
  tree.file("typed", "needle", "text/html");             // no extension: the attribute decides
  tree.file("page.html", "needle", "image/png");         // the name accepts, the attribute refuses
  tree.file("photo.png", "needle", "text/html");         // the name refuses, the attribute accepts
  tree.file("notes.txt", "needle", "application/json");  // a textual type under its text/ name
  tree.file("untyped.txt", "needle", "");
  tree.file("LICENCE", "a needle\n", "");  // the name leaves the type to the content
  tree.file("too long.html", "needle", "");
  std::string tooLong(300, 'x');
  ASSERT_EQ(setxattr(tree.path("too long.html").c_str(), "user.mime_type", tooLong.data(), tooLong.size(), 0), 0);
  tree.folder("folder.png");
  ASSERT_EQ(setxattr(tree.path("folder.png").c_str(), "user.mime_type", "text/html", 9, 0), 0);
  tree.file("folder.png/inner", "needle", "text/plain");
  tree.link("link.html", "page.html");
  std::vector<std::string> expectedPaths;
  std::vector<std::string> expectedOrder;
  for (bool use : {true, false}) {
    use_getxattrat_for_tests(use);
    TypeList types({"text/plain", "text/json", "text/html"});
    WalkResult result = walk(tree.root(), types.list, "needle");
    std::sort(result.paths.begin(), result.paths.end());
    if (use) {
      expectedPaths = result.paths;
      expectedOrder = types.Labels();
      std::vector<std::string> wanted = {tree.path("LICENCE"), tree.path("folder.png/inner"), tree.path("notes.txt"),
                                         tree.path("photo.png"), tree.path("too long.html"), tree.path("typed"),
                                         tree.path("untyped.txt")};
      EXPECT_EQ(result.paths, wanted);
    } else {
      EXPECT_EQ(result.paths, expectedPaths);
      EXPECT_EQ(types.Labels(), expectedOrder);
    }
  }
  use_getxattrat_for_tests(true);
}

}  // namespace

namespace {

// A regular file exchanged for /dev/zero between the listing and the open, again and again:
// the walk must never read the device (which never ends). Run in a child with an alarm, so a
// walk that hangs fails the test instead of holding it up.
TEST(WalkTest, AFileSwappedForADeviceIsNeverRead) {
#if defined(__SANITIZE_ADDRESS__)
  // The child is forked while the swapping thread runs; AddressSanitizer's allocator can be
  // left locked in such a child, and the search's threads then wait on it for ever.
  GTEST_SKIP() << "forks a threaded process, which AddressSanitizer does not survive";
#endif
  TempTree tree;
  std::string file = tree.file("f", "a needle", "text/plain");
  std::string device = tree.path("zero");
  if (mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 5)) != 0) GTEST_SKIP() << "mknod needs root";
  std::atomic<bool> done{false};
  std::thread swapper([&] {
    while (!done) renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, device.c_str(), RENAME_EXCHANGE);
  });
  pid_t child = fork();  // the child has only this thread; the swapping goes on in the parent
  if (child < 0) done = true;
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(30);
    for (int run = 0; run < 300; ++run) {
      TypeList types({"text/plain"});
      BDirectory dir(tree.root().c_str());
      BList results, strings;
      char text[] = "needle";
      strings.AddItem(text);
      f_dirsearch_BMI(dir, types.list, results, strings);
      for (int32 i = 0; i < results.CountItems(); ++i) delete static_cast<entry_ref*>(results.ItemAt(i));
    }
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  done = true;
  swapper.join();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the walk hung or crashed: " << status;
}

}  // namespace

