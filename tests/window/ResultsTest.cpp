// What a user does with a result: hovers over it, opens its menu, copies or drags its path,
// presses Enter on it. All through the real list of a real window.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHelpEvent>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <thread>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <cstdlib>

#include "StallMount.h"
#include "TempTree.h"
#include "WindowFixture.h"
#include "platform/MimeType.h"
#include "platform/interface/Controls.h"
#include "platform/interface/ListView.h"
#include "window/TarnWin.h"

namespace {

class ResultsTest : public WindowsTest {
 protected:
  void SetUp() override {
    window = Build<TarnWin>();
    window->markMimes(false);
    window->markMime(BMimeType("text/plain"));
    window->Show();
    unlink((test_home() + "/opened").c_str());
  }
  void search(const std::string& folder, const std::string& text) {
    static_cast<BTextControl*>(window->FindView("TC_SearchDir"))->SetText(folder.c_str());
    static_cast<BTextControl*>(window->FindView("TC_SearchFor"))->SetText(text.c_str());
    window->PostMessage(four_cc("srcb"));
    drain();
  }
  BListView* matches() { return static_cast<BListView*>(window->FindView("LV_Matches")); }
  QListView* list() { return matches()->List(); }
  // The tooltip the list shows when the pointer rests on a row.
  std::string hover(int row) {
    QToolTip::hideText();
    QPoint at = list()->visualRect(list()->model()->index(row, 0)).center();
    QHelpEvent event(QEvent::ToolTip, at, list()->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list()->viewport(), &event);
    return QToolTip::text().toStdString();
  }
  std::string opened() { return take_opened(); }
  QAction* action(QMenu* menu, const char* text) {
    for (QAction* action : menu->actions())
      if (action->text() == text) return action;
    ADD_FAILURE() << "no menu item " << text;
    return nullptr;
  }

  TarnWin* window;
  TempTree tree;
};

TEST_F(ResultsTest, HoveringShowsThePathAndTheLineThatMatched) {
  // In the middle of a large file, and across a 1024-byte boundary of the scan.
  std::string big(600000, 'x');
  for (size_t i = 80; i < big.size(); i += 81) big[i] = '\n';
  std::string line = "where <the> NeEdLe & more";
  big.replace(300000, line.size(), line);
  std::string large = tree.file("large.txt", big);
  std::string across(1019, 'a');
  across += "needle at the boundary\n";
  tree.file("sub/across.txt", across);
  search(tree.root(), "needle");
  ASSERT_EQ(matches()->CountItems(), 2);
  for (int row = 0; row < 2; ++row) {
    std::string tip = hover(row);
    std::string label = matches()->ItemAt(row)->DisplayText();
    if (label == "large.txt") {
      EXPECT_NE(tip.find(large), std::string::npos) << tip;
      EXPECT_NE(tip.find("where &lt;the&gt; <b>NeEdLe</b> &amp; more"), std::string::npos) << tip;
    } else {
      EXPECT_NE(tip.find("<b>needle</b> at the boundary"), std::string::npos) << tip;
      EXPECT_NE(tip.find("&hellip;aaaa"), std::string::npos) << tip;  // a long line is cut
    }
  }
  // The file as it is now: gone, or without the text.
  std::ofstream(large, std::ios::trunc) << "nothing here";
  unlink(tree.path("sub/across.txt").c_str());
  for (int row = 0; row < 2; ++row) {
    std::string tip = hover(row);
    EXPECT_NE(tip.find(matches()->ItemAt(row)->DisplayText() == std::string("large.txt")
                           ? "no longer in this file" : "no longer there"),
              std::string::npos) << tip;
  }
}

TEST_F(ResultsTest, TheContextMenuOpensShowsAndCopies) {
  std::string file = tree.file("docs/notes.txt", "a needle");
  search(tree.root(), "needle");
  ASSERT_EQ(matches()->CountItems(), 1);
  std::unique_ptr<QMenu> menu(matches()->MakeFileMenu(0));
  ASSERT_NE(menu, nullptr);
  std::vector<std::string> texts;
  for (QAction* item : menu->actions()) texts.push_back(item->text().toStdString());
  EXPECT_EQ(texts, (std::vector<std::string>{"Open", "Open With", "Open Containing Folder", "Copy Path"}));

  action(menu.get(), "Open")->trigger();
  drain();
  EXPECT_EQ(opened(), file + "\n");
  QMenu* with = action(menu.get(), "Open With")->menu();
  ASSERT_NE(with, nullptr);
  ASSERT_FALSE(with->actions().isEmpty());
  EXPECT_EQ(with->actions()[0]->text(), "editor");  // the desktop's default first, this program never
  for (QAction* app : with->actions()) EXPECT_NE(app->text(), "Tarnwickloft");
  with->actions()[0]->trigger();
  EXPECT_EQ(opened(), file + "\n");
  // No file manager answers on the session bus here: the folder opens in the one for folders.
  action(menu.get(), "Open Containing Folder")->trigger();
  EXPECT_EQ(opened(), tree.path("docs") + "\n");
  action(menu.get(), "Copy Path")->trigger();
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), file);
}

// Shift+F10 opens the current match's context menu, as the Menu key does.
TEST_F(ResultsTest, ShiftF10OpensTheContextMenu) {
  tree.file("notes.txt", "a needle");
  search(tree.root(), "needle");
  ASSERT_EQ(matches()->CountItems(), 1);
  window->Activate(true);
  QApplication::setActiveWindow(window->Widget());
  list()->setFocus();
  list()->setCurrentIndex(list()->model()->index(0, 0));
  std::vector<std::string> shown;
  QTimer::singleShot(200, [&] {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      for (QAction* item : menu->actions()) shown.push_back(item->text().toStdString());
      menu->close();
    }
  });
  QTest::keyClick(list(), Qt::Key_F10, Qt::ShiftModifier);
  QTest::qWait(400);
  EXPECT_EQ(shown, (std::vector<std::string>{"Open", "Open With", "Open Containing Folder", "Copy Path"}));
}

TEST_F(ResultsTest, CtrlCCopiesDraggingOffersAFileAndEnterOpens) {
  std::string file = tree.file("one file.txt", "needle");
  search(tree.root(), "needle");
  ASSERT_EQ(matches()->CountItems(), 1);
  QApplication::clipboard()->clear();
  list()->setFocus();
  matches()->Select(0);
  QTest::keyClick(list(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), file);

  QModelIndex row = list()->model()->index(0, 0);
  EXPECT_TRUE(list()->model()->flags(row) & Qt::ItemIsDragEnabled);
  std::unique_ptr<QMimeData> dragged(list()->model()->mimeData({row}));
  ASSERT_NE(dragged, nullptr);
  ASSERT_EQ(dragged->urls().size(), 1);
  EXPECT_EQ(dragged->urls()[0].toLocalFile().toStdString(), file);

  list()->setCurrentIndex(row);
  QTest::keyClick(list(), Qt::Key_Return);
  drain();
  EXPECT_EQ(opened(), file + "\n");
}

// A private session bus for the life of the object, in DBUS_SESSION_BUS_ADDRESS meanwhile.
class PrivateBus {
 public:
  PrivateBus() {
    if (const char* address = getenv("DBUS_SESSION_BUS_ADDRESS")) saved_ = address;
    FILE* daemon = popen("dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1", "r");
    char address[512] = {}, pid[32] = {};
    if (daemon == nullptr) return;
    if (fgets(address, sizeof address, daemon) != nullptr && fgets(pid, sizeof pid, daemon) != nullptr) {
      address[strcspn(address, "\n")] = '\0';
      setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);
      pid_ = pid_t(atoi(pid));
    }
    pclose(daemon);
  }
  ~PrivateBus() {
    if (pid_ > 0) kill(pid_, SIGKILL);
    setenv("DBUS_SESSION_BUS_ADDRESS", saved_.c_str(), 1);
  }
  pid_t pid() const { return pid_; }

 private:
  std::string saved_;
  pid_t pid_ = -1;
};

// Where a file manager answers org.freedesktop.FileManager1 on the session bus, "Open
// Containing Folder" asks it to show the file selected.
TEST_F(ResultsTest, OpenContainingFolderAsksTheFileManagerToSelectTheFile) {
  std::string file = tree.file("docs/selected file.txt", "needle");
  // A private session bus, and a file manager on it that records what it is asked to show.
  auto bus = std::make_unique<PrivateBus>();
  ASSERT_GT(bus->pid(), 0);
  std::string log = tree.path("shown");
  FILE* manager = popen((std::string(FAKE_FILE_MANAGER) + " '" + log + "'").c_str(), "r");
  char ready[16] = {};
  ASSERT_NE(fgets(ready, sizeof ready, manager), nullptr);
  search(tree.root(), "needle");
  ASSERT_EQ(matches()->CountItems(), 1);
  std::unique_ptr<QMenu> menu(matches()->MakeFileMenu(0));
  action(menu.get(), "Open Containing Folder")->trigger();
  std::string shown;
  for (int i = 0; i < 100 && shown.empty(); ++i) {
    shown = read_file(log);
    if (shown.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  bus.reset();  // the bus goes, and the file manager with it
  pclose(manager);
  EXPECT_EQ(shown, "ShowItems " + QUrl::fromLocalFile(QString::fromStdString(file)).toString(QUrl::FullyEncoded).toStdString() + "\n");
  EXPECT_EQ(read_file(test_home() + "/opened"), "");  // the folder itself was not opened
}

// A match on a file system whose reads hang, as a stalled network mount's do: the tooltip
// comes at once with the path and a note, and the window goes on answering.
TEST_F(ResultsTest, HoveringAFileWhoseReadsHangDoesNotHoldTheWindow) {
  std::string file = tree.file("mount/slow.txt", "a line with the needle in it\n");
  search(tree.root(), "needle");
  ASSERT_EQ(matches()->CountItems(), 1);
  StallMount stalled(tree.path("mount"));
  if (!stalled.mounted()) GTEST_SKIP() << "no FUSE mount here (needs root and /dev/fuse)";
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto start = std::chrono::steady_clock::now();
    std::string tip = hover(0);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 1.0);
    EXPECT_NE(tip.find(file), std::string::npos) << tip;
    EXPECT_NE(tip.find("not available"), std::string::npos) << tip;
  }
}

// With a session bus that accepts connections and never answers (its daemon stopped), "Open
// Containing Folder" returns at once, and the folder opens once the bus has had its time.
TEST_F(ResultsTest, OpenContainingFolderWithAStoppedBusOpensTheFolderInTime) {
  std::string file = tree.file("docs/selected file.txt", "needle");
  PrivateBus privateBus;
  pid_t bus = privateBus.pid();
  ASSERT_GT(bus, 0);
  search(tree.root(), "needle");
  ASSERT_EQ(matches()->CountItems(), 1);
  kill(bus, SIGSTOP);
  // Should the window hang on the bus, the daemon goes on after 20 s so the test can end.
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 200 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(bus, SIGCONT);
  });
  std::unique_ptr<QMenu> menu(matches()->MakeFileMenu(0));
  auto start = std::chrono::steady_clock::now();
  action(menu.get(), "Open Containing Folder")->trigger();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // The call waits on the bus on a thread of its own; the window goes on at once, and keeps
  // answering while the bus stays stopped.
  EXPECT_LT(seconds, 0.2);
  QTest::qWait(2500);
  done = true;  // the bus goes on: the launch GIO announces there can end
  watchdog.join();
  EXPECT_EQ(opened(), tree.path("docs") + "\n");
}

// A match dragged a short way inside the list, with real pointer events on an X display, is no
// drop on the window: the fields and the types stay. (Headless there is no drag to make.)
TEST_F(ResultsTest, AShortDragInsideTheListChangesNothing) {
  if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X display";
  window->markMime(BMimeType("text/html"));
  tree.file("sub/match.txt", "needle");
  search(tree.root(), "needle");
  ASSERT_EQ(matches()->CountItems(), 1);
  window->Activate(true);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window->Widget()));
  QPoint at = list()->viewport()->mapToGlobal(list()->visualRect(list()->model()->index(0, 0)).center());
  double ratio = list()->devicePixelRatioF();
  int x = int(at.x() * ratio), y = int(at.y() * ratio);
  std::string drag = "xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) +
                     " sleep 0.2 mousedown 1 sleep 0.1";
  for (int step = 5; step <= 35; step += 5)
    drag += " mousemove " + std::to_string(x) + " " + std::to_string(y + step) + " sleep 0.05";
  drag += " sleep 0.2 mouseup 1";
  std::atomic<bool> done{false};
  std::thread pointer([&] {
    EXPECT_EQ(system(drag.c_str()), 0);
    done = true;
  });
  while (!done.load()) QTest::qWait(20);  // a drag runs its own loop inside these
  pointer.join();
  QTest::qWait(300);
  drain();
  auto field = [&](const char* name) {
    return std::string(static_cast<BTextControl*>(window->FindView(name))->Text());
  };
  EXPECT_EQ(field("TC_SearchDir"), tree.root());
  EXPECT_EQ(field("TC_File"), "");
  EXPECT_EQ(selected_types(window), (std::vector<std::string>{"text/plain", "text/html"}));
}

}  // namespace
