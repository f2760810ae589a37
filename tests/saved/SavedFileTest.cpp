// Replacing saved searches and the settings file in folders other users can write to, by
// several writers at once, and after a save that died midway.
#include <atomic>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utime.h>

#include "TempTree.h"
#include "platform/Entry.h"
#include "platform/File.h"
#include "platform/ReplaceFile.h"
#include "saved/SavedSearch.h"

namespace fs = std::filesystem;

namespace {

BMessage record_with_text(const std::string& text) {
  SearchState state;
  state.types = {"text/html"};
  state.text = text;
  BMessage record(kRecordCode);
  add_record_fields(state, &record);
  return record;
}

std::string saved_text(const std::string& path) {
  BMessage record;
  if (read_saved_search(BEntry(path.c_str()), &record) != B_OK) return "<unreadable>";
  return read_record_fields(record).text;
}

std::vector<std::string> temporaries_in(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    if (is_replace_temporary(entry.path().filename().c_str())) names.push_back(entry.path().filename());
  return names;
}

// In a sticky folder others may write to, a link another user planted at the chosen name is
// not followed, as the kernel's fs.protected_symlinks would not follow it: the save is refused
// and the link's target, existing or not, stays as it was. A link of one's own is followed
// there, and another's link is followed in a folder that is not shared, as before.
TEST(SavedFileTest, AnotherUsersLinkInASharedStickyFolderIsNeverWrittenThrough) {
  if (geteuid() != 0) GTEST_SKIP() << "making a link another user's needs root (CI runs as root)";
  constexpr uid_t kAttacker = 4242;
  TempTree tree;
  std::string shared = tree.folder("shared");
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  ASSERT_EQ(chown(shared.c_str(), 4343, 4343), 0);  // a team folder: neither user's
  std::string precious = tree.file("home/precious.txt", "mine");
  std::string planted = shared + "/x.rec", dangling = shared + "/y.rec";
  ASSERT_EQ(symlink(precious.c_str(), planted.c_str()), 0);
  ASSERT_EQ(symlink(tree.path("home/autostart.desktop").c_str(), dangling.c_str()), 0);
  ASSERT_EQ(lchown(planted.c_str(), kAttacker, kAttacker), 0);
  ASSERT_EQ(lchown(dangling.c_str(), kAttacker, kAttacker), 0);
  EXPECT_EQ(write_saved_search(planted.c_str(), record_with_text("record")), B_PERMISSION_DENIED);
  EXPECT_EQ(write_saved_search(dangling.c_str(), record_with_text("record")), B_PERMISSION_DENIED);
  EXPECT_EQ(read_file(precious), "mine");
  EXPECT_FALSE(fs::exists(tree.path("home/autostart.desktop")));
  EXPECT_TRUE(fs::is_symlink(planted));
  EXPECT_TRUE(temporaries_in(shared).empty());

  std::string own = shared + "/own.rec", mine = tree.path("home/mine.rec");
  ASSERT_EQ(symlink(mine.c_str(), own.c_str()), 0);
  ASSERT_EQ(write_saved_search(own.c_str(), record_with_text("through my link")), B_OK);
  EXPECT_EQ(saved_text(mine), "through my link");
  EXPECT_TRUE(fs::is_symlink(own));

  std::string privateFolder = tree.folder("private");
  std::string theirs = privateFolder + "/theirs.rec";
  ASSERT_EQ(symlink(mine.c_str(), theirs.c_str()), 0);
  ASSERT_EQ(lchown(theirs.c_str(), kAttacker, kAttacker), 0);
  ASSERT_EQ(write_saved_search(theirs.c_str(), record_with_text("not shared")), B_OK);
  EXPECT_EQ(saved_text(mine), "not shared");
}

// Another user of a shared folder plants links at every name a save could choose from what
// it can see (the process id); none of them is followed.
TEST(SavedFileTest, LinksPlantedAtTemporaryNamesAreNeverFollowed) {
  TempHome home;
  const TempTree& tree = home.tree();
  std::string victim = tree.file("private", "secret", "");
  chmod(victim.c_str(), 0600);
  std::string saved = tree.path("team search");
  std::string pid = std::to_string(getpid());
  tree.link(".tarnwickloft-saving-" + pid, victim);
  tree.folder(".config");
  symlink(victim.c_str(), (settings_path() + ".new-" + pid).c_str());

  ASSERT_EQ(write_saved_search(saved.c_str(), record_with_text("shared")), B_OK);
  ASSERT_EQ(write_settings(saved), B_OK);
  EXPECT_EQ(read_file(victim), "secret");
  struct stat st;
  ASSERT_EQ(stat(victim.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(saved_text(saved), "shared");
  EXPECT_EQ(read_file(settings_path()), saved);

  // Creating a new file refuses a name that is a link, even a dangling one.
  tree.link("dangling", tree.path("would be made"));
  BFile file;
  BEntry at(tree.path("dangling").c_str(), false);
  EXPECT_EQ(file.CreateNew(&at, 0600), B_FILE_EXISTS);
  EXPECT_FALSE(fs::exists(tree.path("would be made")));
}

// Two writers in one process share its id, as two sandboxed programs (each the first process
// of its own namespace) do: every save succeeds whole, and a reader only ever sees a whole
// record.
TEST(SavedFileTest, WritersWithTheSameProcessIdNeverMixTheirRecords) {
  TempTree tree;
  std::string path = tree.path("contested");
  std::string texts[2] = {std::string(3000, 'a'), std::string(5000, 'b')};
  ASSERT_EQ(write_saved_search(path.c_str(), record_with_text(texts[0])), B_OK);
  std::atomic<int> failedSaves{0}, badReads{0};
  std::atomic<bool> writing{true};
  auto writer = [&](int which) {
    for (int i = 0; i < 60; ++i)
      if (write_saved_search(path.c_str(), record_with_text(texts[which])) != B_OK) ++failedSaves;
  };
  std::thread reader([&] {
    while (writing) {
      std::string text = saved_text(path);
      if (text != texts[0] && text != texts[1]) ++badReads;
    }
  });
  std::thread first(writer, 0), second(writer, 1);
  first.join();
  second.join();
  writing = false;
  reader.join();
  EXPECT_EQ(failedSaves, 0);
  EXPECT_EQ(badReads, 0);
  EXPECT_TRUE(temporaries_in(tree.root()).empty());
}

// A save killed midway (here by the file-size signal, as under `ulimit -f` before the program
// ignored it) leaves a file no wider than the saved search, which a later save removes once
// it is stale.
TEST(SavedFileTest, AKilledSaveLeavesAPrivateFileThatALaterSaveRemoves) {
  TempTree tree;
  std::string path = tree.path("private search");
  ASSERT_EQ(write_saved_search(path.c_str(), record_with_text("before")), B_OK);
  chmod(path.c_str(), 0600);
  pid_t child = fork();
  if (child == 0) {
    umask(022);
    signal(SIGXFSZ, SIG_DFL);
    rlimit small{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &small);
    write_saved_search(path.c_str(), record_with_text(std::string(1 << 16, 'x')));
    _exit(0);
  }
  int status;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
  EXPECT_EQ(saved_text(path), "before");
  std::vector<std::string> left = temporaries_in(tree.root());
  ASSERT_EQ(left.size(), 1u);
  std::string stale = tree.path(left[0]);
  struct stat st;
  ASSERT_EQ(stat(stale.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  // A minute later it is stale; one that a live save may still be writing is not.
  utimbuf old{time(nullptr) - 120, time(nullptr) - 120};
  ASSERT_EQ(utime(stale.c_str(), &old), 0);
  std::string live = tree.file(std::string(kReplacePrefix) + "live", "", "");
  std::string other = tree.file(".hidden notes", "", "");
  ASSERT_EQ(utime(other.c_str(), &old), 0);
  ASSERT_EQ(write_saved_search(path.c_str(), record_with_text("after")), B_OK);
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(live));
  EXPECT_TRUE(fs::exists(other));
  EXPECT_EQ(saved_text(path), "after");
}

}  // namespace
