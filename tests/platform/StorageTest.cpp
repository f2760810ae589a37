#include <atomic>
#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <sys/mman.h>
#include <dirent.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <cstddef>
#include <cstring>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TempTree.h"
#include "platform/Directory.h"
#include "platform/Entry.h"
#include "platform/File.h"
#include "platform/FindDirectory.h"
#include "platform/Path.h"
#include "platform/PathLink.h"

namespace {

std::string path_of(const BEntry& entry) {
  BPath path;
  EXPECT_EQ(entry.GetPath(&path), B_OK);
  return path.Path() ? path.Path() : "";
}

TEST(EntryTest, NamesPathsParentsAndRefsOfAFile) {
  TempTree tree;
  // Names a shell or an option parser would trip over.
  for (const char* leaf : {"plain", "with space", "quote's \"here\"", "-leading-dash"}) {
    std::string file = tree.file(std::string("sub/") + leaf, "x");
    BEntry entry(file.c_str());
    ASSERT_EQ(entry.InitCheck(), B_OK) << leaf;
    char name[B_FILE_NAME_LENGTH];
    ASSERT_EQ(entry.GetName(name), B_OK);
    EXPECT_STREQ(name, leaf);
    EXPECT_EQ(path_of(entry), file);
    BEntry parent;
    ASSERT_EQ(entry.GetParent(&parent), B_OK);
    EXPECT_EQ(path_of(parent), tree.path("sub"));

    entry_ref ref;
    ASSERT_EQ(entry.GetRef(&ref), B_OK);
    BEntry again(&ref);
    ASSERT_EQ(again.InitCheck(), B_OK);
    EXPECT_EQ(path_of(again), file);
    EXPECT_TRUE(again == entry);
  }
}

TEST(EntryTest, RefsToOneEntryCompareEqualWhateverPathReachedIt) {
  TempTree tree;
  tree.file("real/f", "x");
  tree.link("alias", "real");
  entry_ref direct, throughLink;
  ASSERT_EQ(BEntry(tree.path("real/f").c_str()).GetRef(&direct), B_OK);
  ASSERT_EQ(BEntry(tree.path("alias/f").c_str()).GetRef(&throughLink), B_OK);
  ASSERT_EQ(BEntry(tree.path("real/./../real/f").c_str()).GetRef(&throughLink), B_OK);
  EXPECT_EQ(direct, throughLink);
  entry_ref other;
  ASSERT_EQ(BEntry(tree.path("real").c_str()).GetRef(&other), B_OK);
  EXPECT_NE(direct, other);
}

TEST(EntryTest, ARefWhoseFolderMovedAwayNoLongerResolves) {
  TempTree tree;
  tree.file("old/f", "x");
  tree.file("other/f", "y");
  entry_ref ref;
  ASSERT_EQ(BEntry(tree.path("old/f").c_str()).GetRef(&ref), B_OK);
  std::filesystem::rename(tree.path("old"), tree.path("moved"));
  std::filesystem::rename(tree.path("other"), tree.path("old"));
  // The kept path now names another folder; the ref must not open that folder's file.
  EXPECT_EQ(BEntry(&ref).InitCheck(), B_ENTRY_NOT_FOUND);
}

TEST(EntryTest, LinksAreFollowedOnlyWhenAsked) {
  TempTree tree;
  std::string target = tree.file("target.txt", "x");
  std::string link = tree.link("link", "target.txt");
  tree.link("dangling", "missing.txt");
  tree.link("loop-a", "loop-b");
  tree.link("loop-b", "loop-a");

  struct stat st;
  ASSERT_EQ(BEntry(link.c_str()).GetStat(&st), B_OK);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  BEntry followed(link.c_str(), true);
  ASSERT_EQ(followed.GetStat(&st), B_OK);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(path_of(followed), target);

  BEntry dangling(tree.path("dangling").c_str(), true);
  ASSERT_EQ(dangling.InitCheck(), B_OK);
  EXPECT_FALSE(dangling.Exists());
  EXPECT_EQ(path_of(dangling), tree.path("missing.txt"));

  EXPECT_EQ(BEntry(tree.path("loop-a").c_str(), true).InitCheck(), B_LINK_LIMIT);
  EXPECT_EQ(BEntry(tree.path("no/such/folder").c_str()).InitCheck(), B_ENTRY_NOT_FOUND);
  EXPECT_EQ(BEntry("").InitCheck(), B_BAD_VALUE);
}

// A chain as long as a deep walk can make is let go without recursion (a million links would
// overflow the stack), while a link shared with another thread keeps its own ancestors whole.
TEST(PathLinkTest, ALongChainGoesWithoutRecursionAndASharedPartStays) {
  std::shared_ptr<const PathLink> chain = PathLink::Root("/top");
  std::shared_ptr<const PathLink> middle;
  for (int i = 0; i < 1000000; ++i) {
    chain = std::make_shared<PathLink>(std::move(chain), "d");
    if (i == 2) middle = chain;
  }
  std::string kept;
  std::thread reader([&] {
    for (int i = 0; i < 1000; ++i) kept = middle->Path();
  });
  chain.reset();
  reader.join();
  EXPECT_EQ(kept, "/top/d/d/d");
}

// How much of the first `bytes` of a file is in the page cache, from 0 to 1.
double resident_share(int fd, size_t bytes) {
  void* map = mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) return -1;
  size_t page = size_t(sysconf(_SC_PAGESIZE)), pages = (bytes + page - 1) / page, in = 0;
  std::vector<unsigned char> flags(pages);
  if (mincore(map, bytes, flags.data()) == 0)
    for (unsigned char flag : flags) in += flag & 1;
  munmap(map, bytes);
  return double(in) / double(pages);
}

// Asking ahead for a file's head brings it into the page cache; for a link, a FIFO, a folder
// or a name that is gone it does nothing, and it never waits or keeps a descriptor.
TEST(EntryTest, PrefetchBringsAFilesHeadInAndNothingElse) {
  TempTree tree;
  const size_t head = 64 * 1024;
  std::string file = tree.file("data.txt", std::string(4 * head, 'x'));
  tree.link("link", "data.txt");
  ASSERT_EQ(mkfifo(tree.path("fifo").c_str(), 0600), 0);
  tree.folder("folder");
  int fd = open(file.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  auto evict = [&] {
    fsync(fd);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    return resident_share(fd, head) == 0;
  };
  bool evictable = evict();  // not on file systems that live in memory
  int descriptors = int(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
  auto started = std::chrono::steady_clock::now();
  for (const char* name : {"link", "fifo", "folder", "gone"})
    EXPECT_FALSE(BEntry(tree.path(name).c_str()).Prefetch(head)) << name;
  if (evictable) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // what was asked for is in by now
    EXPECT_EQ(resident_share(fd, head), 0) << "the link was followed";
  }
  // Out of memory, it is asked for; once in, the answer says so and nothing is asked. (A disk
  // fast enough may bring the head in during the asking: then it says so too.)
  bool saidIn = BEntry(file.c_str()).Prefetch(head);
  if (saidIn && evictable) {
    EXPECT_GT(resident_share(fd, 4096), 0) << "said in memory, and was not";
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_EQ(int(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {})), descriptors);
  if (evictable) {
    for (int i = 0; i < 200 && resident_share(fd, head) < 1; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(resident_share(fd, head), 1);
  }
  EXPECT_TRUE(BEntry(file.c_str()).Prefetch(head));
  EXPECT_FALSE(BEntry(tree.file("empty.txt", "").c_str()).Prefetch(head)) << "an empty file tells nothing";
  close(fd);
}

// A pipe listed as a file is never opened by the read-ahead: an open would release a writer
// waiting for a reader. The writer here is still waiting afterwards, and no read was made.
TEST(EntryTest, PrefetchNeverOpensAPipe) {
  TempTree tree;
  std::string fifo = tree.path("swapped.txt");
  WaitingPipeWriter writer(fifo);
  BEntry(fifo.c_str()).Prefetch(64 * 1024);
  EXPECT_FALSE(writer.Released()) << "the read-ahead opened the pipe";
}

// A container's filter of the system calls it does not know answers EPERM to getxattrat(2);
// the stored type is then read through the file's path, by this call and those after it. The
// filter, which cannot be taken off, goes into a child process.
TEST(EntryTest, AStoredTypeIsReadWhereAFilterRefusesGetxattrat) {
  TempTree tree;
  std::string path = tree.file("typed", "x", "text/html");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sock_filter refuse[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 464, 0, 1),  // getxattrat
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{sizeof refuse / sizeof refuse[0], refuse};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
      _exit(2);
    for (int call = 0; call < 2; ++call) {
      char type[64] = {};
      if (BEntry(path.c_str()).ReadAttr("user.mime_type", type, sizeof type) != 9 || strcmp(type, "text/html") != 0)
        _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the type was not read; 2: the filter could not be set";
}

TEST(PathTest, AbsolutePathsLeavesParentsAndNormalising) {
  TempTree tree;
  tree.folder("a/b");
  BPath path(tree.path("a").c_str(), "b");
  EXPECT_EQ(path, tree.path("a/b").c_str());
  EXPECT_STREQ(path.Leaf(), "b");
  ASSERT_EQ(path.Append("new file"), B_OK);
  EXPECT_EQ(path, tree.path("a/b/new file").c_str());
  BPath parent;
  ASSERT_EQ(path.GetParent(&parent), B_OK);
  EXPECT_EQ(parent, tree.path("a/b").c_str());
  EXPECT_EQ(BPath((tree.root() + "//a/./b/../b/").c_str()), tree.path("a/b").c_str());
  EXPECT_EQ(BPath("/").GetParent(&parent), B_ENTRY_NOT_FOUND);
  EXPECT_STREQ(BPath("/").Leaf(), "");

  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  ASSERT_EQ(chdir(tree.path("a").c_str()), 0);
  BPath relative("b");
  EXPECT_EQ(chdir(here), 0);
  EXPECT_EQ(relative, tree.path("a/b").c_str());
  EXPECT_EQ(BPath(tree.path("a").c_str(), "/abs").InitCheck(), B_BAD_VALUE);
}

std::vector<std::string> readdir_order(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  while (dirent* entry = readdir(dir))
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
      names.push_back(entry->d_name);
  closedir(dir);
  return names;
}

std::vector<std::string> list_names(BDirectory& dir) {
  std::vector<std::string> names;
  BEntry entry;
  while (dir.GetNextEntry(&entry) == B_OK) names.push_back(entry.Name());
  return names;
}

TEST(DirectoryTest, ListsEntriesInFileSystemOrderAndRewinds) {
  TempTree tree;
  for (int i = 0; i < 500; ++i) tree.file("many/file " + std::to_string(i), "x", "");
  tree.folder("many/sub");
  BDirectory dir(tree.path("many").c_str());
  ASSERT_EQ(dir.InitCheck(), B_OK);
  std::vector<std::string> names = list_names(dir);
  EXPECT_EQ(names, readdir_order(tree.path("many")));
  EXPECT_EQ(names.size(), 501u);
  BEntry entry;
  EXPECT_EQ(dir.GetNextEntry(&entry), B_ENTRY_NOT_FOUND);
  ASSERT_EQ(dir.Rewind(), B_OK);
  EXPECT_EQ(list_names(dir), names);

  BEntry self;
  ASSERT_EQ(dir.GetEntry(&self), B_OK);
  EXPECT_EQ(path_of(self), tree.path("many"));
  EXPECT_NE(BDirectory(tree.path("many/file 1").c_str()).InitCheck(), B_OK);
  EXPECT_NE(BDirectory("").InitCheck(), B_OK);
}

TEST(DirectoryTest, GetStatForShowsLinksAsLinks) {
  TempTree tree;
  tree.file("f", "x");
  tree.link("l", "f");
  BDirectory dir(tree.root().c_str());
  struct stat st;
  ASSERT_EQ(dir.GetStatFor("l", &st), B_OK);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(dir.GetStatFor("f", &st), B_OK);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(dir.GetStatFor("gone", &st), B_ENTRY_NOT_FOUND);
}

TEST(DirectoryTest, CreateFileEmptiesAnExistingFileUnlessAskedToFail) {
  TempTree tree;
  tree.file("existing", "old content");
  BDirectory dir(tree.root().c_str());
  BFile file;
  ASSERT_EQ(dir.CreateFile("existing", &file), B_OK);
  off_t size = -1;
  ASSERT_EQ(file.GetSize(&size), B_OK);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(file.Write("new", 3), 3);
  EXPECT_EQ(dir.CreateFile("existing", &file, true), B_FILE_EXISTS);
  ASSERT_EQ(dir.CreateFile("fresh", &file), B_OK);
  EXPECT_TRUE(BEntry(tree.path("fresh").c_str()).Exists());
}

TEST(FileTest, OpenModesDecideWhatMayBeDone) {
  TempTree tree;
  std::string path = tree.file("f", "0123456789");
  BFile reader(path.c_str(), B_READ_ONLY);
  ASSERT_EQ(reader.InitCheck(), B_OK);
  EXPECT_TRUE(reader.IsReadable());
  EXPECT_FALSE(reader.IsWritable());
  EXPECT_LT(reader.Write("x", 1), 0);
  char buffer[4];
  EXPECT_EQ(reader.Read(buffer, 4), 4);
  EXPECT_EQ(reader.Position(), 4);

  BFile both(path.c_str(), B_READ_WRITE);
  EXPECT_EQ(both.Write("ab", 2), 2);
  BFile fresh(path.c_str(), B_WRITE_ONLY | B_CREATE_FILE | B_ERASE_FILE);
  off_t size = -1;
  ASSERT_EQ(fresh.GetSize(&size), B_OK);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(BFile(tree.path("missing").c_str(), B_READ_ONLY).InitCheck(), B_ENTRY_NOT_FOUND);

  mode_t mask = umask(022);
  BFile made(tree.path("made").c_str(), B_WRITE_ONLY | B_CREATE_FILE);
  umask(mask);
  struct stat st;
  ASSERT_EQ(made.GetStat(&st), B_OK);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // created readable, as the umask allows
}

TEST(FindDirectoryTest, SettingsFollowXdgConfigHomeElseHome) {
  TempHome home;
  BPath path;
  ASSERT_EQ(find_directory(B_USER_SETTINGS_DIRECTORY, &path), B_OK);
  EXPECT_EQ(path, (home.home() + "/.config").c_str());
  EXPECT_FALSE(BEntry(path.Path()).Exists());  // not made unless asked
  unsetenv("XDG_CONFIG_HOME");
  setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  ASSERT_EQ(find_directory(B_USER_SETTINGS_DIRECTORY, &path, true), B_OK);
  EXPECT_EQ(path, (home.home() + "/.config").c_str());
  EXPECT_TRUE(BEntry(path.Path()).Exists());
}

}  // namespace

namespace {

TEST(FileTest, AnEntryThatIsALinkOpensItsTarget) {
  TempTree tree;
  tree.file("target.txt", "through the link");
  std::string link = tree.link("link", "target.txt");
  BEntry entry(link.c_str());
  BFile file(&entry, B_READ_ONLY);
  ASSERT_EQ(file.InitCheck(), B_OK);
  char text[32] = {};
  EXPECT_EQ(file.Read(text, sizeof text - 1), 16);
  EXPECT_STREQ(text, "through the link");
}

// What the walk reads: the entry itself, never a link's target, and only a regular file.
TEST(FileTest, SetToRegularRefusesLinksAndWhatIsNotARegularFile) {
  TempTree tree;
  std::string plain = tree.file("plain", "x");
  tree.link("link", "plain");
  ASSERT_EQ(mkfifo(tree.path("pipe").c_str(), 0600), 0);
  BFile file;
  BEntry entry(plain.c_str());
  EXPECT_EQ(file.SetToRegular(&entry), B_OK);
  entry.SetTo(tree.path("link").c_str());
  EXPECT_NE(file.SetToRegular(&entry), B_OK);
  entry.SetTo(tree.path("pipe").c_str());
  EXPECT_EQ(file.SetToRegular(&entry), B_BAD_TYPE);
  EXPECT_EQ(file.InitCheck(), B_NO_INIT);
  if (mknod(tree.path("zero").c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0) {  // root only
    entry.SetTo(tree.path("zero").c_str());
    EXPECT_EQ(file.SetToRegular(&entry), B_BAD_TYPE);
  }
}

}  // namespace
