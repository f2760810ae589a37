// A search as the user watches it: matches listed as they are found, Stop, Escape and the close
// box, and the input that waits for the search's end, on a file system whose reads hang.
#include <QApplication>
#include <QCloseEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <QWindow>
#include <QtTest/qtestspontaneevent.h>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>

#include "StallMount.h"
#include "TempTree.h"
#include "WindowFixture.h"
#include "platform/MimeType.h"
#include "platform/interface/Controls.h"
#include "platform/interface/HeldInput.h"
#include "platform/interface/ListView.h"
#include "platform/interface/MenuItem.h"
#include "window/Commands.h"
#include "window/TarnWin.h"

namespace {

using Clock = std::chrono::steady_clock;

// The window, telling the test of each command it is given, as it is given it.
class WatchedWin : public TarnWin {
 public:
  WatchedWin(BMessage* archive, bool* destroyed) : TarnWin(archive), destroyed_(destroyed) {}
  ~WatchedWin() override { *destroyed_ = true; }
  void DispatchMessage(BMessage* message, BHandler* handler) override {
    if (seen) seen(message->what);
    TarnWin::DispatchMessage(message, handler);
  }
  std::function<void(uint32)> seen;

 private:
  bool* destroyed_;
};

class LiveSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree.file("mount/.keep", "");
    stalled = std::make_unique<StallMount>(tree.path("mount"), std::vector<std::string>{"20", "slow.txt", "fast.txt"});
    if (!stalled->mounted()) GTEST_SKIP() << "no FUSE mount here (needs root and /dev/fuse)";
    BMessage archive = window_archive();
    window = new WatchedWin(&archive, &destroyed);
    window->markMimes(false);
    window->markMime(BMimeType("text/plain"));
    window->Show();
    window->Activate(true);
    QApplication::setActiveWindow(window->Widget());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window->Widget()));
    field("TC_SearchDir")->setText(QString::fromStdString(tree.path("mount")));
    field("TC_SearchFor")->setText("needle");
    field("TC_SearchFor")->setFocus();
    drain();
  }
  void TearDown() override {
    if (window != nullptr && !destroyed) window->Quit();
    drain();
    stalled.reset();  // a read still hanging fails now, and its search's thread ends
  }

  QLineEdit* field(const char* name) {
    return static_cast<BTextControl*>(window->FindView(name))->TextView()->LineEdit();
  }
  QWindow* handle() { return window->Widget()->windowHandle(); }
  BListView* matches() { return static_cast<BListView*>(window->FindView("LV_Matches")); }
  QPushButton* button() { return static_cast<BButton*>(window->FindView("B_Search"))->Button(); }
  QPoint centre(QWidget* widget) { return widget->mapTo(window->Widget(), widget->rect().center()); }

  // Starts a search and waits for its first match, the fast file; the search then hangs on
  // the slow one.
  void search_until_first_match() {
    window->PostMessage(command::kSearch);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->IsSearching() && matches()->CountItems() > 0; }, 5000));
  }
  // How long, from now, until the search has ended.
  double seconds_until_idle() {
    auto start = Clock::now();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->IsSearching(); }, 5000));
    return std::chrono::duration<double>(Clock::now() - start).count();
  }
  void close_box() {
    QCloseEvent close;
    QSpontaneKeyEvent::setSpontaneous(&close);  // as the window system sends it
    QCoreApplication::sendEvent(handle(), &close);
  }

  TempTree tree;
  std::unique_ptr<StallMount> stalled;
  WatchedWin* window = nullptr;
  bool destroyed = false;
};

constexpr double kBackWithin = 0.1 * kSanitizerSlowdown;

// The fast file is listed while the slow one's read hangs, can be opened, and the title tells
// the progress; Stop gives the window back at once and keeps what was found.
TEST_F(LiveSearchTest, MatchesShowAsFoundAndStopGivesTheWindowBack) {
  search_until_first_match();
  EXPECT_EQ(std::string(button()->text().toStdString()), "Stop");
  EXPECT_EQ(std::string(window->Title()).rfind("Searching… ", 0), 0u) << window->Title();
  EXPECT_NE(std::string(window->Title()).find("1 match"), std::string::npos) << window->Title();
  QListView* list = matches()->List();
  QPoint at = list->visualRect(list->model()->index(0, 0)).center();
  QTest::mouseDClick(handle(), Qt::LeftButton, Qt::NoModifier, list->viewport()->mapTo(window->Widget(), at));
  EXPECT_EQ(take_opened(), tree.path("mount/fast.txt") + "\n");
  ASSERT_TRUE(window->IsSearching());

  QTest::mouseClick(handle(), Qt::LeftButton, Qt::NoModifier, centre(button()));
  EXPECT_LT(seconds_until_idle(), kBackWithin);
  EXPECT_EQ(matches()->CountItems(), 1);
  EXPECT_STREQ(window->Title(), "Tarnwickloft");
  EXPECT_EQ(button()->text().toStdString(), "Search");
}

TEST_F(LiveSearchTest, EscapeAndTheCloseBoxStopTheSearch) {
  search_until_first_match();
  QTest::keyClick(handle(), Qt::Key_Escape);
  EXPECT_LT(seconds_until_idle(), kBackWithin);
  EXPECT_EQ(matches()->CountItems(), 1);

  search_until_first_match();
  int requests = test_app()->quitRequests;
  auto start = Clock::now();
  close_box();
  ASSERT_TRUE(QTest::qWaitFor([&] { return destroyed; }, 5000));
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), kBackWithin);
  drain();
  EXPECT_EQ(test_app()->quitRequests, requests + 1);
}

// Keys, a menu shortcut and a drop during a search wait, and arrive after it in the order they
// came: the shortcut sees the keys before it, and the dropped folder comes after the typing.
TEST_F(LiveSearchTest, InputDuringASearchArrivesAfterItInOrder) {
  search_until_first_match();
  std::string textAtShowPaths = "(not shown)", textAtDrop = "(no drop)";
  window->seen = [&](uint32 code) {
    if (code == command::kShowPaths) textAtShowPaths = field("TC_SearchFor")->text().toStdString();
    if (code == B_SIMPLE_DATA) textAtDrop = field("TC_SearchFor")->text().toStdString();
  };
  QTest::keyClick(handle(), Qt::Key_End);
  QTest::keyClick(handle(), Qt::Key_A);
  QTest::keyClick(handle(), Qt::Key_P, Qt::ControlModifier);
  QTest::keyClick(handle(), Qt::Key_B);
  std::string dropped = tree.folder("dropped");
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dropped))});
  QDragEnterEvent enter(QPoint(3, 3), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(field("TC_SearchFor"), &enter);
  QDropEvent drop(QPointF(3, 3), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(field("TC_SearchFor"), &drop);
  QTest::qWait(100);
  EXPECT_EQ(field("TC_SearchFor")->text().toStdString(), "needle");
  EXPECT_EQ(textAtShowPaths, "(not shown)");
  EXPECT_EQ(textAtDrop, "(no drop)");
  EXPECT_GE(HeldInput::Waiting(), 6u);

  QTest::mouseClick(handle(), Qt::LeftButton, Qt::NoModifier, centre(button()));
  ASSERT_TRUE(QTest::qWaitFor([&] { return textAtDrop != "(no drop)"; }, 5000));
  EXPECT_EQ(textAtShowPaths, "needlea");
  EXPECT_EQ(textAtDrop, "needleab");
  EXPECT_EQ(field("TC_SearchDir")->text().toStdString(), dropped);
  EXPECT_TRUE(window->showPathsItem->IsMarked());
  EXPECT_EQ(HeldInput::Waiting(), 0u);
}

// Enter, handed over after one search, starts another: the keys after it wait for that one.
TEST_F(LiveSearchTest, ASearchStartedByWaitingInputKeepsTheRestWaiting) {
  search_until_first_match();
  QTest::keyClick(handle(), Qt::Key_End);
  QTest::keyClick(handle(), Qt::Key_X);
  QTest::keyClick(handle(), Qt::Key_Return);
  QTest::keyClick(handle(), Qt::Key_Y);
  QTest::mouseClick(handle(), Qt::LeftButton, Qt::NoModifier, centre(button()));
  ASSERT_TRUE(QTest::qWaitFor([&] { return field("TC_SearchFor")->text() == "needlex" && window->IsSearching(); }, 5000));
  QTest::qWait(100);
  EXPECT_EQ(field("TC_SearchFor")->text().toStdString(), "needlex");
  QTest::keyClick(handle(), Qt::Key_Escape);
  ASSERT_TRUE(QTest::qWaitFor([&] { return field("TC_SearchFor")->text() == "needlexy"; }, 5000));
  EXPECT_FALSE(window->IsSearching());
}

}  // namespace
