#include <QTest>
#include <QAction>
#include <QFileDialog>
#include <QGuiApplication>
#include <QEventLoop>
#include <QMenu>
#include <QScreen>
#include <QSocketNotifier>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <atomic>
#include <gtest/gtest.h>
#include <sstream>
#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>

#include "TempTree.h"
#include "WindowFixture.h"
#include "platform/AppDefs.h"
#include "platform/Directory.h"
#include "platform/Entry.h"
#include "platform/File.h"
#include "platform/MimeType.h"
#include "platform/NodeInfo.h"
#include "platform/Path.h"
#include "platform/interface/Controls.h"
#include "platform/interface/MenuItem.h"
#include "platform/interface/FilePanel.h"
#include "platform/interface/Menu.h"
#include "saved/SavedSearch.h"
#include "window/TarnWin.h"

namespace fs = std::filesystem;

namespace {

// Counts the folder notices a window is given.
class CountingWin : public TarnWin {
 public:
  using TarnWin::TarnWin;
  void DispatchMessage(BMessage* message, BHandler* handler) override {
    if (message->what == B_NODE_MONITOR) ++notices;
    TarnWin::DispatchMessage(message, handler);
  }
  int notices = 0;
};

class SavedSearchTest : public WindowsTest {
 protected:
  void SetUp() override { window = Build<CountingWin>(); }
  // A window built as at the next start, with the settings file as it is.
  TarnWin* Rebuild() { return Build<TarnWin>(); }
  void set(TarnWin* w, const char* view, const char* text) {
    static_cast<BTextControl*>(w->FindView(view))->SetText(text);
  }
  std::string get(TarnWin* w, const char* view) {
    return static_cast<BTextControl*>(w->FindView(view))->Text();
  }
  std::vector<std::string> selected(TarnWin* w) { return selected_types(w); }
  std::vector<std::string> restore_items(TarnWin* w) {
    std::vector<std::string> items;
    for (int32 i = 0; i < w->restoreMenu->CountItems(); ++i) {
      BMenuItem* item = w->restoreMenu->ItemAt(i);
      items.push_back(std::string(item->IsMarked() ? "*" : "") + item->Label());
    }
    return items;
  }
  // The Restore menu as Qt shows it when it opens, marks left out.
  std::vector<std::string> opened_restore_items(TarnWin* w) {
    QMenu* menu = w->restoreMenu->Widget();
    menu->popup(QPoint(0, 0));
    std::vector<std::string> items;
    for (QAction* action : menu->actions()) items.push_back(action->text().toStdString());
    menu->hide();
    return items;
  }
  void save(TarnWin* w, const std::string& path) {
    BPath target(path.c_str());
    w->SaveStateToFile(&target);
    listed(w);
  }
  // Waits for the window's listing of the saved-search folder to reach the Restore menu.
  void listed(TarnWin* w) {
    drain();
    for (int i = 0; i < 500 && w->savedSearchListing; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      drain();
    }
    ASSERT_FALSE(w->savedSearchListing) << "the folder was not listed within 5 s";
  }
  void relist(TarnWin* w) {
    w->InitSavedSearchMenu();
    listed(w);
  }
  bool restore(TarnWin* w, const std::string& path) {
    BEntry entry(path.c_str());
    return w->RestoreState(&entry);
  }
  // Waits for the folder watch to report and the window to handle it.
  void settle() {
    for (int i = 0; i < 8; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      drain();
    }
    listed(window);
  }

  CountingWin* window;
  TempTree tree;
};

TEST_F(SavedSearchTest, SavingAndRestoringGivesBackTheSetUp) {
  window->markMimes(false);
  window->markMime(BMimeType("text/x-csrc"));
  window->markMime(BMimeType("text/plain"));
  set(window, "TC_File", "/some/example.txt");
  set(window, "TC_SearchDir", "/some/folder with space");
  set(window, "TC_SearchFor", "find \"me\"");
  window->ShowPaths(nullptr);
  window->MoveTo(40, 50);
  window->ResizeTo(400, 300);
  std::string file = tree.path("my search");
  save(window, file);
  EXPECT_STREQ(window->Title(), "Tarnwickloft - my search");
  EXPECT_EQ(read_file(settings_path()), file);  // the bare path, no line end
  char type[B_MIME_TYPE_LENGTH] = {};
  ASSERT_GT(getxattr(file.c_str(), "user.mime_type", type, sizeof type - 1), 0);
  EXPECT_STREQ(type, "message/x-Tarnwickloft");

  TarnWin* next = Rebuild();  // the next start restores it
  EXPECT_EQ(selected(next), (std::vector<std::string>{"text/x-csrc", "text/plain"}));
  EXPECT_TRUE(next->typesMenu->FindItem("text/plain")->IsMarked());
  EXPECT_FALSE(next->typesMenu->FindItem("text/html")->IsMarked());
  EXPECT_EQ(get(next, "TC_File"), "/some/example.txt");
  EXPECT_EQ(get(next, "TC_SearchDir"), "/some/folder with space");
  EXPECT_EQ(get(next, "TC_SearchFor"), "find \"me\"");
  EXPECT_TRUE(next->showPathsItem->IsMarked());
  EXPECT_EQ(next->Frame(), BRect(40, 50, 440, 350));
  EXPECT_STREQ(next->Title(), "Tarnwickloft - my search");
  listed(next);
  EXPECT_EQ(restore_items(next), (std::vector<std::string>{"Show Directory", "", "*my search"}));
}

TEST_F(SavedSearchTest, TypesAreSavedAsSelectedNoneAtAllOrTwice) {
  window->markMimes(false);
  std::string none = tree.path("none");
  save(window, none);
  BMessage record;
  ASSERT_EQ(read_saved_search(BEntry(none.c_str()), &record), B_OK);
  EXPECT_FALSE(record.HasField("Types"));
  EXPECT_EQ(record.what, four_cc("arch"));

  BMessage twice(four_cc("arch"));
  twice.AddString("Types", "text/plain");
  twice.AddString("Types", "text/x-not-installed");
  twice.AddString("Types", "TEXT/PLAIN");
  std::string path = tree.path("twice");
  ASSERT_EQ(write_saved_search(path.c_str(), twice), B_OK);
  BRect frame = window->Frame();
  ASSERT_TRUE(restore(window, path));
  EXPECT_EQ(window->Frame(), frame);  // a record without "Frame" leaves the window where it is
  EXPECT_EQ(selected(window), (std::vector<std::string>{"text/plain", "text/plain"}));
  EXPECT_EQ(get(window, "TC_SearchDir"), "");  // missing fields take their defaults
  EXPECT_FALSE(window->showPathsItem->IsMarked());
  save(window, path);
  ASSERT_EQ(read_saved_search(BEntry(path.c_str()), &record), B_OK);
  type_code code;
  int32 count;
  record.GetInfo("Types", &code, &count);
  EXPECT_EQ(count, 2);  // the type that is not installed is gone
}

// Each type of a record is one lookup, not a pass over the menu: a record naming 100,000
// types, nearly all unknown, some in another case or by their application/ names, restores
// in well under a second (a pass per type took over ten) and marks exactly what it names.
TEST_F(SavedSearchTest, ARecordNamingVeryManyTypesRestoresQuickly) {
  BMessage many(four_cc("arch"));
  for (int i = 0; i < 100000; ++i) many.AddString("Types", ("text/x-unknown-" + std::to_string(i)).c_str());
  many.AddString("Types", "TEXT/HTML");
  many.AddString("Types", "application/x-shellscript");
  many.AddString("Types", "not a type");
  many.AddString("Types", "text/html");
  std::string path = tree.path("many");
  ASSERT_EQ(write_saved_search(path.c_str(), many), B_OK);
  auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(restore(window, path));
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(selected(window), (std::vector<std::string>{"text/html", "text/x-sh", "text/html"}));
  EXPECT_LT(took.count(), 3.0);
}

TEST_F(SavedSearchTest, SavingOverALongerFileLeavesExactlyTheRecord) {
  std::string path = tree.file("long", std::string(100000, 'x'), "text/plain");
  save(window, path);
  BMessage record(four_cc("arch"));
  window->SaveState(&record);
  std::string expected(size_t(record.FlattenedSize()), '\0');
  record.Flatten(expected.data(), ssize_t(expected.size()));
  EXPECT_EQ(read_file(path), expected);
}

TEST_F(SavedSearchTest, FilesThatAreNotRecordsRestoreNothingAndChangeNothing) {
  std::string good = tree.path("good");
  save(window, good);
  std::string record = read_file(good);
  set(window, "TC_SearchFor", "unchanged");
  std::string title = window->Title();
  for (const std::string& bad : {tree.file("text.txt", "just text"), tree.file("empty", ""),
                                 tree.file("truncated", record.substr(0, record.size() / 2)),
                                 tree.path("missing")}) {
    EXPECT_FALSE(restore(window, bad)) << bad;
    EXPECT_EQ(get(window, "TC_SearchFor"), "unchanged") << bad;
    EXPECT_EQ(window->Title(), title) << bad;
    EXPECT_EQ(read_file(settings_path()), good) << bad;
  }
}

TEST_F(SavedSearchTest, ADamagedFrameStaysWithinTheLimits) {
  BMessage record(four_cc("arch"));
  record.AddRect("Frame", BRect(1e30f, -1e30f, NAN, 5));
  std::string nan = tree.path("nan");
  write_saved_search(nan.c_str(), record);
  BRect before = window->Frame();
  ASSERT_TRUE(restore(window, nan));
  EXPECT_EQ(window->Frame().Width(), before.Width());
  BMessage huge(four_cc("arch"));
  huge.AddRect("Frame", BRect(10, 10, 1e9f, 1e9f));
  std::string big = tree.path("huge");
  write_saved_search(big.c_str(), huge);
  ASSERT_TRUE(restore(window, big));
  EXPECT_LE(window->Bounds().Width(), 1000);  // the window's own limit
  // A frame saved on a larger screen, or at a smaller scale, is fitted onto this one.
  for (BRect frame : {BRect(10, 10, 1e9f, 1e9f), BRect(3000, 2500, 5000, 4000), BRect(-900, -900, -100, -500)}) {
    BMessage saved(four_cc("arch"));
    saved.AddRect("Frame", frame);
    std::string path = tree.path("frame");
    write_saved_search(path.c_str(), saved);
    ASSERT_TRUE(restore(window, path));
    QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    BRect now = window->Frame();
    EXPECT_GE(now.left, screen.left());
    EXPECT_GE(now.top, screen.top());
    EXPECT_LE(now.right, screen.right());
    EXPECT_LE(now.bottom, screen.bottom());
    BMessage stored;
    ASSERT_EQ(read_saved_search(BEntry(path.c_str()), &stored), B_OK);
    EXPECT_EQ(read_record_fields(stored).frame, frame);  // what the file holds is unchanged
  }
}

TEST_F(SavedSearchTest, TheSettingsFileRules) {
  std::string file = tree.path("named");
  save(window, file);
  struct {
    const char* what;
    std::string settings;
  } cases[] = {
      {"a line end after the path", file + "\n"},
      {"4096 bytes", file + std::string(4096 - file.size(), '/')},
      {"empty", ""},
  };
  for (const auto& c : cases) {
    std::ofstream(settings_path(), std::ios::binary | std::ios::trunc) << c.settings;
    TarnWin* next = Rebuild();
    EXPECT_STREQ(next->Title(), "Tarnwickloft") << c.what;
    EXPECT_EQ(next->currentSearchPath, nullptr) << c.what;
    EXPECT_EQ(read_file(settings_path()), c.settings) << c.what;  // left as it was
  }
  std::ofstream(settings_path(), std::ios::binary | std::ios::trunc) << file;
  fs::remove(file);
  TarnWin* next = Rebuild();
  EXPECT_EQ(next->currentSearchPath, nullptr);
  EXPECT_EQ(read_file(settings_path()), file);
  EXPECT_EQ(next->restoreMenu->CountItems(), 0);
}

TEST_F(SavedSearchTest, AWriteThatFailsBeepsAndChangesNothing) {
  std::string first = tree.path("first");
  save(window, first);
  int32 beeps = beep_count();
  save(window, tree.path("no such folder/second"));
  EXPECT_EQ(beep_count(), beeps + 1);
  EXPECT_STREQ(window->Title(), "Tarnwickloft - first");
  EXPECT_EQ(read_file(settings_path()), first);
  EXPECT_STREQ(window->currentSearchPath->Path(), first.c_str());
}

TEST_F(SavedSearchTest, SaveWithoutACurrentSearchIsSaveAsWithOnePanel) {
  window->Save();
  ASSERT_NE(window->savePanel, nullptr);
  BFilePanel* panel = window->savePanel;
  EXPECT_TRUE(panel->IsShowing());
  window->InitSaveAs();
  EXPECT_EQ(window->savePanel, panel);
  EXPECT_TRUE(panel->IsShowing());
  panel->Hide();

  // The panel answers: Save As into the folder of the current search.
  std::string first = tree.path("first");
  save(window, first);
  BMessage answer(B_SAVE_REQUESTED);
  entry_ref folder;
  BEntry(tree.root().c_str()).GetRef(&folder);
  answer.AddRef("directory", &folder);
  answer.AddString("name", "second");
  window->PostMessage(&answer);
  drain();
  EXPECT_STREQ(window->Title(), "Tarnwickloft - second");
  EXPECT_EQ(read_file(settings_path()), tree.path("second"));
  listed(window);
  std::vector<std::string> items = restore_items(window);
  std::sort(items.begin() + 2, items.end());
  EXPECT_EQ(items, (std::vector<std::string>{"Show Directory", "", "*second", "first"}));

  // Save in place rewrites the file and nothing else.
  set(window, "TC_SearchFor", "changed");
  std::ofstream(settings_path(), std::ios::trunc) << "untouched";
  window->Save();
  EXPECT_EQ(read_file(settings_path()), "untouched");
  BMessage record;
  read_saved_search(BEntry(tree.path("second").c_str()), &record);
  EXPECT_EQ(read_record_fields(record).text, "changed");
}

// A saved search keeps the window's size in the archive's units: saved from a window built for
// 1.5 times the design text size, it restores at the design size two thirds as large.
TEST_F(SavedSearchTest, ASavedFrameKeepsItsProportionsAtAnyTextSize) {
  use_desktop_font_pixels(kDesignFontPixels * 1.5f);
  TarnWin* large = Rebuild();
  use_desktop_font_pixels(kDesignFontPixels);
  large->ResizeTo(450, 540);
  std::string path = tree.path("large");
  save(large, path);
  BMessage record;
  ASSERT_EQ(read_saved_search(BEntry(path.c_str()), &record), B_OK);
  BRect frame = read_record_fields(record).frame;
  EXPECT_EQ(frame.Width(), 300);
  EXPECT_EQ(frame.Height(), 360);
  EXPECT_EQ(Rebuild()->Bounds(), BRect(0, 0, 300, 360));
}

TEST_F(SavedSearchTest, TheRestoreMenuFollowsTheFolder) {
  std::string folder = tree.folder("searches");
  std::string current = folder + "/current";
  save(window, current);
  tree.file("searches/notes.txt", "text");
  tree.folder("searches/sub");
  tree.file("searches/cased", "TWKM", "Message/X-Tarnwickloft");
  std::string elsewhere = tree.path("elsewhere");
  write_saved_search(elsewhere.c_str(), BMessage(four_cc("arch")));
  tree.link("searches/link", elsewhere);
  std::string outside = tree.path("outside");
  write_saved_search(outside.c_str(), BMessage(four_cc("arch")));
  fs::rename(outside, folder + "/moved in");
  settle();
  std::vector<std::string> items = restore_items(window);
  std::sort(items.begin() + 2, items.end());
  EXPECT_EQ(items, (std::vector<std::string>{"Show Directory", "", "*current", "elsewhere", "moved in"}));
  items = restore_items(window);
  relist(window);
  EXPECT_EQ(restore_items(window), items);  // nothing is listed twice

  fs::remove(current);
  settle();
  items = restore_items(window);
  std::sort(items.begin() + 2, items.end());
  EXPECT_EQ(items, (std::vector<std::string>{"Show Directory", "", "elsewhere", "moved in"}));
  EXPECT_NE(window->currentSearchPath, nullptr);  // the current saved search itself stays

  // Opened, the menu shows its items in order, also those added and removed while it was closed.
  write_saved_search((folder + "/later").c_str(), BMessage(four_cc("arch")));
  settle();
  items = restore_items(window);
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(opened_restore_items(window), items);
  fs::remove(folder + "/moved in");
  settle();
  items = restore_items(window);
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(opened_restore_items(window), items);
}

TEST_F(SavedSearchTest, ChoosingARestoreItemRestoresItAndMarksIt) {
  set(window, "TC_SearchFor", "first text");
  save(window, tree.path("first"));
  set(window, "TC_SearchFor", "second text");
  save(window, tree.path("second"));
  BMenuItem* first = window->restoreMenu->FindItem("first");
  ASSERT_NE(first, nullptr);
  window->restoreMenu->ActionFor(first)->trigger();
  drain();
  EXPECT_STREQ(window->Title(), "Tarnwickloft - first");
  EXPECT_EQ(get(window, "TC_SearchFor"), "first text");
  EXPECT_TRUE(window->restoreMenu->FindItem("first")->IsMarked());
  EXPECT_FALSE(window->restoreMenu->FindItem("second")->IsMarked());
  EXPECT_EQ(read_file(settings_path()), tree.path("first"));

  // Choosing the current one again runs every step: the settings file is written anew.
  std::ofstream(settings_path(), std::ios::trunc) << "stale";
  window->restoreMenu->ActionFor(window->restoreMenu->FindItem("first"))->trigger();
  drain();
  EXPECT_EQ(read_file(settings_path()), tree.path("first"));
}

TEST_F(SavedSearchTest, ShowDirectoryOpensTheFolderInTheFileManager) {
  unlink((test_home() + "/opened").c_str());
  window->ShowSavedSearchDir();  // no saved search yet: nothing to show
  std::string folder = tree.folder("shown");
  save(window, folder + "/search");
  BMenuItem* show = window->restoreMenu->FindItem("Show Directory");
  ASSERT_NE(show, nullptr);
  window->restoreMenu->ActionFor(show)->trigger();
  drain();
  std::string opened;
  for (int i = 0; i < 100 && opened.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    opened = read_file(test_home() + "/opened");
  }
  EXPECT_EQ(opened, folder + "\n");
}

TEST_F(SavedSearchTest, ABurstOfChangesComesAsAFewNotices) {
  std::string folder = tree.folder("busy");
  save(window, folder + "/search");
  settle();
  window->notices = 0;
  for (int i = 0; i < 300; ++i) tree.file("busy/copied " + std::to_string(i), "x", "");
  settle();
  EXPECT_GE(window->notices, 1);
  EXPECT_LE(window->notices, 5);
}

}  // namespace

namespace {

// A link to a saved search, dropped or named by the settings file, restores the search it
// points to; saving through the link replaces that file and leaves the link.
TEST_F(SavedSearchTest, ALinkToASavedSearchRestoresItsTarget) {
  set(window, "TC_SearchFor", "through a link");
  std::string target = tree.path("real search");
  save(window, target);
  std::string link = tree.link("linked search", "real search");
  TarnWin* other = Rebuild();
  BMessage drop(B_SIMPLE_DATA);
  entry_ref ref;
  ASSERT_EQ(BEntry(link.c_str()).GetRef(&ref), B_OK);
  drop.AddRef("refs", &ref);
  other->PostMessage(&drop);
  drain();
  EXPECT_EQ(get(other, "TC_SearchFor"), "through a link");

  set(other, "TC_SearchFor", "saved through the link");
  save(other, link);
  EXPECT_TRUE(fs::is_symlink(link));
  BMessage record;
  ASSERT_EQ(read_saved_search(BEntry(target.c_str()), &record), B_OK);
  EXPECT_EQ(read_record_fields(record).text, "saved through the link");

  std::ofstream(settings_path(), std::ios::trunc) << link;
  EXPECT_EQ(get(Rebuild(), "TC_SearchFor"), "saved through the link");
}

TEST_F(SavedSearchTest, BrokenLinksInTheFolderAreLeftOutAndTheRestListed) {
  std::string folder = tree.folder("many");
  std::vector<std::string> expected = {"Show Directory", ""};
  for (int i = 0; i < 12; ++i) {
    std::string name = "search " + std::to_string(i);
    if (i == 4) {
      tree.link("many/into nowhere", "../missing folder/x");
      tree.link("many/itself", "itself");
    }
    save(window, folder + "/" + name);
    expected.push_back((i == 11 ? "*" : "") + name);
  }
  relist(window);
  std::vector<std::string> items = restore_items(window);
  auto byName = [](const std::string& a, const std::string& b) { return a.substr(a[0] == '*') < b.substr(b[0] == '*'); };
  std::sort(items.begin() + 2, items.end(), byName);
  std::sort(expected.begin() + 2, expected.end(), byName);
  EXPECT_EQ(items, expected);
}

// Links planted in the saved-search folder to a pipe and to devices are never opened: a writer
// waiting on the pipe still waits after the menu is rebuilt, and the saved search is listed.
TEST_F(SavedSearchTest, TheRestoreMenuNeverOpensAPipeOrADevice) {
  std::string folder = tree.folder("shared");
  save(window, folder + "/real search");
  std::string fifo = tree.path("pipe");
  WaitingPipeWriter writer(fifo);
  tree.link("shared/to a pipe", fifo);
  tree.link("shared/to zero", "/dev/zero");
  tree.link("shared/to a terminal", "/dev/ptmx");
  relist(window);
  EXPECT_FALSE(writer.Released()) << "the menu opened the pipe";
  EXPECT_EQ(restore_items(window), (std::vector<std::string>{"Show Directory", "", "*real search"}));
}

// The longest a ping waited for the event loop while running() held, as a window manager's
// ping would: a thread writes a time stamp to a socket every 10 ms, and the window's thread
// reads it through the event loop, like the window system's connection.

std::chrono::milliseconds longest_ping_while(const std::function<bool()>& running) {
  using clock = std::chrono::steady_clock;
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return std::chrono::milliseconds::max();
  std::atomic<bool> pinging = true;
  std::thread pinger([&] {
    while (pinging) {
      clock::rep sent = clock::now().time_since_epoch().count();
      if (write(ends[0], &sent, sizeof sent) != sizeof sent) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  auto longest = clock::duration::zero();
  QEventLoop loop;
  QSocketNotifier answer(ends[1], QSocketNotifier::Read);
  QObject::connect(&answer, &QSocketNotifier::activated, [&] {
    clock::rep stamps[64];
    ssize_t got = read(ends[1], stamps, sizeof stamps);
    for (ssize_t i = 0; i < got / ssize_t(sizeof stamps[0]); ++i)
      longest = std::max(longest, clock::now() - clock::time_point(clock::duration(stamps[i])));
    if (!running()) loop.quit();
  });
  loop.exec();
  pinging = false;
  pinger.join();
  close(ends[0]);
  close(ends[1]);
  return std::chrono::duration_cast<std::chrono::milliseconds>(longest);
}

// A folder of 20,000 saved searches gaining one every 60 ms, as another user of a shared
// folder could make it: the window keeps turning, and the menu ends with every file.
TEST_F(SavedSearchTest, ABusySavedSearchFolderNeverStallsTheWindow) {
  std::string folder = tree.folder("busy");
  std::string bytes = "listed by its type";  // the menu does not read the records
  for (int i = 0; i < 20000; ++i) tree.file("busy/old " + std::to_string(i), bytes, kSavedSearchType);
  BPath current((folder + "/current").c_str());
  window->SaveStateToFile(&current);  // the first listing: every file is new to the menu
  auto first = longest_ping_while([&] { return window->savedSearchListing; });
  EXPECT_LT(first.count(), 200 * kSanitizerSlowdown);
  ASSERT_EQ(window->restoreMenu->CountItems(), 2 + 20001);

  std::atomic<bool> writing = true;
  std::thread writer([&] {
    for (int i = 0; i < 50; ++i) {
      tree.file("busy/new " + std::to_string(i), bytes, kSavedSearchType);
      std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    writing = false;
  });
  auto stall = longest_ping_while([&] { return writing.load(); });
  writer.join();
  EXPECT_LT(stall.count(), 200 * kSanitizerSlowdown);
  settle();
  EXPECT_EQ(window->restoreMenu->CountItems(), 2 + 20051);
  EXPECT_NE(window->restoreMenu->FindItem("new 49"), nullptr);
}

// A two-type search over 20,000 files only their content can type, then a tick in the MIMEs
// menu and a Save: the window keeps turning during the search, and neither handler reads a
// file.
TEST_F(SavedSearchTest, ATypeTickAndASaveAfterATwoTypeSearchNeverStallTheWindow) {
  for (int i = 0; i < 20000; ++i)
    tree.file("untyped/" + std::to_string(i % 40) + "/n" + std::to_string(i), "plain words\n", "");
  window->markMimes(false);
  window->markMime(BMimeType("text/html"));
  window->markMime(BMimeType("text/css"));
  static_cast<BTextControl*>(window->FindView("TC_SearchDir"))->SetText(tree.path("untyped").c_str());
  static_cast<BTextControl*>(window->FindView("TC_SearchFor"))->SetText("xylophone");
  window->PostMessage(four_cc("srcb"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->IsSearching(); }, 5000));
  auto during = longest_ping_while([&] { return window->IsSearching(); });
  EXPECT_LT(during.count(), 200 * kSanitizerSlowdown);

  auto timed = [](const std::function<void()>& handler) {
    auto start = std::chrono::steady_clock::now();
    handler();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  };
  BMenuItem* plain = window->typesMenu->FindItem("text/plain");
  ASSERT_NE(plain, nullptr);
  BMessage tick(four_cc("MIME"));
  tick.AddPointer("source", plain);
  EXPECT_LT(timed([&] { window->MimeSelected(&tick); }), 200 * kSanitizerSlowdown);
  BPath saved(tree.path("saved").c_str());
  EXPECT_LT(timed([&] { window->SaveStateToFile(&saved); }), 200 * kSanitizerSlowdown);
  EXPECT_EQ(selected_types(window), (std::vector<std::string>{"text/html", "text/css", "text/plain"}));
}

// Runs a save under a file size limit smaller than the record.
void under_size_limit(rlim_t limit, const std::function<void()>& save) {
  rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit low = saved;
  low.rlim_cur = limit;
  sighandler_t handler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &low);
  save();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, handler);
}

TEST_F(SavedSearchTest, ASaveThatFailsMidwayLeavesTheOldSavedSearchWhole) {
  set(window, "TC_SearchFor", "the old text");
  std::string path = tree.path("kept");
  save(window, path);
  std::string before = read_file(path);
  set(window, "TC_SearchFor", std::string(64 * 1024, 'x').c_str());
  int32 beeps = beep_count();
  under_size_limit(4096, [&] { save(window, path); });
  EXPECT_EQ(beep_count(), beeps + 1);
  EXPECT_EQ(read_file(path), before);
  char type[B_MIME_TYPE_LENGTH] = {};
  getxattr(path.c_str(), "user.mime_type", type, sizeof type - 1);
  EXPECT_STREQ(type, "message/x-Tarnwickloft");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(tree.root())) names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"kept"});  // no temporary file is left behind
  EXPECT_EQ(read_file(settings_path()), path);
  TarnWin* next = Rebuild();
  EXPECT_EQ(get(next, "TC_SearchFor"), "the old text");

  // Save As onto the same name, from the save panel, does not empty the file either.
  BMessage answer(B_SAVE_REQUESTED);
  entry_ref folder;
  BEntry(tree.root().c_str()).GetRef(&folder);
  answer.AddRef("directory", &folder);
  answer.AddString("name", "kept");
  under_size_limit(4096, [&] { window->SaveRequested(&answer); });
  EXPECT_EQ(read_file(path), before);
}

TEST_F(SavedSearchTest, SavingAgainKeepsTheFilesPermissionsAndAttributes) {
  std::string path = tree.path("shared");
  save(window, path);
  chmod(path.c_str(), 0640);
  ASSERT_EQ(setxattr(path.c_str(), "user.xdg.comment", "for the team", 12, 0), 0);
  set(window, "TC_SearchFor", "second save");
  save(window, path);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  char comment[32] = {};
  EXPECT_EQ(getxattr(path.c_str(), "user.xdg.comment", comment, sizeof comment), 12);
  EXPECT_STREQ(comment, "for the team");
  BMessage record;
  ASSERT_EQ(read_saved_search(BEntry(path.c_str()), &record), B_OK);
  EXPECT_EQ(read_record_fields(record).text, "second save");
  EXPECT_EQ(st.st_size, record.FlattenedSize());
}

// A save under way, or one that died, leaves a typed file under a hidden name of its own; it
// is no saved search of the user's.
TEST_F(SavedSearchTest, TheRestoreMenuLeavesOutFilesOfSavesUnderWay) {
  std::string path = tree.path("mine");
  save(window, path);
  tree.file(".tarnwickloft-saving-22554", read_file(path), "message/x-Tarnwickloft");
  relist(window);
  EXPECT_EQ(restore_items(window), (std::vector<std::string>{"Show Directory", "", "*mine"}));
}

}  // namespace
