#include <QApplication>
#include <QDropEvent>
#include <QMenuBar>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <map>
#include <QListView>
#include <thread>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include "TempTree.h"
#include "WindowFixture.h"
#include "platform/AppDefs.h"
#include "platform/Entry.h"
#include "platform/interface/Controls.h"
#include "platform/interface/ListView.h"
#include "platform/interface/ScrollView.h"
#include "platform/interface/Menu.h"
#include "platform/interface/Window.h"
#include "window/TarnWin.h"

namespace {

TEST(FollowParentTest, EachEdgeKeepsTheDistanceItsModeNames) {
  const BRect frame(10, 20, 110, 70);
  struct Case {
    uint32 mode;
    BRect expected;
  } cases[] = {
      {0x1234, {10, 20, 150, 90}},   // all sides
      {0x1214, {10, 20, 150, 70}},   // left and right, top
      {0x1212, {10, 20, 110, 70}},   // top left
      {0x1515, {30, 20, 130, 70}},   // centred horizontally
      {0x1434, {50, 20, 150, 90}},   // right, top and bottom
      {0x3234, {10, 40, 150, 90}},   // left and right, bottom
      {0x0000, {10, 20, 110, 70}},   // none
  };
  for (const Case& c : cases)
    EXPECT_EQ(follow_parent(frame, c.mode, 40, 20), c.expected) << std::hex << c.mode;
}

// A plain window built from the archive that records what reaches its MessageReceived.
class RecordingWindow : public BWindow {
 public:
  explicit RecordingWindow(BMessage* archive) : BWindow(archive) {}
  void MessageReceived(BMessage* message) override { received.push_back(*message); }
  std::vector<BMessage> received;
};

class ViewsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BMessage archive = window_archive();
    window = new RecordingWindow(&archive);
  }
  void TearDown() override { window->Quit(); }
  BRect frame(const char* name) { return window->FindView(name)->Frame(); }
  QLineEdit* edit(const char* control) {
    return static_cast<BTextControl*>(window->FindView(control))->TextView()->LineEdit();
  }
  std::vector<uint32> codes() {
    std::vector<uint32> whats;
    for (const BMessage& m : window->received) whats.push_back(m.what);
    return whats;
  }
  RecordingWindow* window;
};

TEST_F(ViewsTest, TheWindowIsBuiltFromTheArchive) {
  EXPECT_EQ(window->Bounds(), BRect(0, 0, 273, 325));
  EXPECT_EQ(window->Frame(), BRect(157, 92, 430, 417));
  EXPECT_STREQ(window->Title(), "Tarnwickloft");
  EXPECT_STREQ(window->Name(), "Tarnwickloft");
  EXPECT_TRUE(window->IsHidden());
  struct {
    const char* name;
    const char* className;
  } views[] = {{"V_Background", "BView"},   {"TC_SearchFor", "BTextControl"},
               {"TC_SearchDir", "BTextControl"}, {"B_Search", "BButton"},
               {"SV_Matches", "BScrollView"}, {"LV_Matches", "BListView"},
               {"_VSB_", "BScrollBar"},     {"_HSB_", "BScrollBar"},
               {"TC_File", "BTextControl"}, {"B_OpenFile", "BButton"}};
  for (const auto& v : views) {
    BView* view = window->FindView(v.name);
    ASSERT_NE(view, nullptr) << v.name;
    EXPECT_STREQ(view->ClassName(), v.className) << v.name;
  }
  EXPECT_EQ(window->FindView("nothing"), nullptr);
  auto* dir = static_cast<BTextControl*>(window->FindView("TC_SearchDir"));
  EXPECT_STREQ(dir->Text(), "/boot/beos/documentation/Be Book");
  EXPECT_STREQ(dir->Label(), "Search Dir:");
  EXPECT_STREQ(static_cast<BButton*>(window->DefaultButton())->Label(), "Search");
  QWidget* field = window->FindView("TC_SearchFor")->Widget();
  EXPECT_EQ(field->geometry(), QRect(10, 69, 253, 21));
}

// Every view of a window, by name, with its frame.
std::map<std::string, BRect> view_frames(BWindow* window) {
  std::map<std::string, BRect> frames;
  std::vector<BView*> views;
  for (int32 i = 0; i < window->CountChildren(); ++i) views.push_back(window->ChildAt(i));
  while (!views.empty()) {
    BView* view = views.back();
    views.pop_back();
    frames[view->Name()] = view->Frame();
    for (int32 i = 0; i < view->CountChildren(); ++i) views.push_back(view->ChildAt(i));
  }
  return frames;
}

// At the design text size the window is the archive's, to the pixel (above); at 1.5 times
// that size every frame, the window's size, its limits and the text are 1.5 times as large.
TEST_F(ViewsTest, TheWindowKeepsItsProportionsAtTheDesktopsTextSize) {
  std::map<std::string, BRect> designed = view_frames(window);
  ASSERT_GE(designed.size(), 10u);
  use_desktop_font_pixels(kDesignFontPixels * 1.5f);
  BMessage archive = window_archive();
  auto* large = new RecordingWindow(&archive);
  use_desktop_font_pixels(kDesignFontPixels);
  EXPECT_FLOAT_EQ(large->ArchiveScale(), 1.5f);
  EXPECT_EQ(large->Frame().LeftTop(), window->Frame().LeftTop());  // its place is the screen's
  EXPECT_NEAR(large->Bounds().Width(), window->Bounds().Width() * 1.5f, 1);
  EXPECT_NEAR(large->Bounds().Height(), window->Bounds().Height() * 1.5f, 1);
  for (const auto& [name, frame] : view_frames(large)) {
    ASSERT_EQ(designed.count(name), 1u) << name;
    const BRect& small = designed[name];
    for (auto [got, want] : {std::pair{frame.left, small.left}, {frame.top, small.top},
                             {frame.right, small.right}, {frame.bottom, small.bottom}})
      EXPECT_NEAR(got, want * 1.5f, 1.5f) << name;
  }
  EXPECT_EQ(large->FindView("TC_SearchFor")->Widget()->font().pixelSize(), 15);
  large->ResizeTo(2000, 2000);  // the 1000x1000 limit scales too
  EXPECT_EQ(large->Bounds(), BRect(0, 0, 1500, 1500));
  large->Quit();
}

TEST_F(ViewsTest, ResizingMovesEachViewAsItsModeSays) {
  window->ResizeTo(1000, 1000);  // 727 wider, 675 higher
  EXPECT_EQ(window->Bounds(), BRect(0, 0, 1000, 1000));
  EXPECT_EQ(frame("V_Background"), BRect(0, -2, 1004, 1004));
  EXPECT_EQ(frame("TC_SearchFor"), BRect(10, 69, 989, 89));
  EXPECT_EQ(frame("TC_File"), BRect(67, 25, 989, 44));
  EXPECT_EQ(frame("B_Search"), BRect(459.5, 98, 532.5, 128));
  EXPECT_EQ(frame("B_OpenFile"), BRect(11, 24, 64, 43));
  EXPECT_EQ(frame("SV_Matches"), BRect(11, 142, 989, 993));
  EXPECT_EQ(frame("LV_Matches"), BRect(2, 2, 962, 835));
  EXPECT_EQ(frame("_VSB_"), BRect(963, 1, 977, 836));
  EXPECT_EQ(frame("_HSB_"), BRect(1, 836, 963, 850));
  EXPECT_EQ(static_cast<BTextControl*>(window->FindView("TC_SearchFor"))->TextView()->Frame(),
            BRect(63, 3, 976, 16));

  window->ResizeTo(20, 30);
  EXPECT_EQ(window->Bounds(), BRect(0, 0, 100, 150));
  window->ResizeTo(5000, 5000);
  EXPECT_EQ(window->Bounds(), BRect(0, 0, 1000, 1000));
  window->ResizeTo(273, 325);
  EXPECT_EQ(frame("B_Search"), BRect(96, 98, 169, 128));  // back where it started
  EXPECT_EQ(frame("_HSB_"), BRect(1, 161, 236, 175));
}

TEST_F(ViewsTest, AUserResizingTheWidgetMovesTheViewsToo) {
  window->Show();
  window->Widget()->resize(374, 426);  // as a window manager would, in pixels
  drain();
  EXPECT_EQ(window->Bounds(), BRect(0, 0, 373, 425));
  EXPECT_EQ(frame("SV_Matches"), BRect(11, 142, 362, 418));
  window->Widget()->resize(50, 50);  // below the limits the widget was given
  drain();
  EXPECT_EQ(window->Bounds(), BRect(0, 0, 100, 150));
}

void drop(QWidget* target, QMimeData* data) {
  QPoint at(4, 4);
  QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  QDropEvent dropped(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &dropped);
}

TEST_F(ViewsTest, ADropOnATextFieldGoesToTheWindowNotTheField) {
  TempTree tree;
  std::string file = tree.file("dropped file.txt", "x");
  QMimeData files;
  files.setUrls({QUrl::fromLocalFile(QString::fromStdString(file))});
  files.setText(QString::fromStdString(file));  // file managers send both
  drop(edit("TC_SearchFor"), &files);
  drain();
  EXPECT_EQ(edit("TC_SearchFor")->text(), "");
  ASSERT_EQ(codes(), std::vector<uint32>{B_SIMPLE_DATA});
  entry_ref ref, expected;
  ASSERT_EQ(window->received[0].FindRef("refs", &ref), B_OK);
  ASSERT_EQ(BEntry(file.c_str()).GetRef(&expected), B_OK);
  EXPECT_EQ(ref, expected);

  window->received.clear();
  QMimeData text;
  text.setText("dragged words");
  drop(edit("TC_SearchDir"), &text);
  drop(static_cast<BListView*>(window->FindView("LV_Matches"))->List()->viewport(), &text);
  drain();
  EXPECT_EQ(codes(), (std::vector<uint32>{B_MIME_DATA, B_MIME_DATA}));
  EXPECT_FALSE(window->received[0].HasField("source"));
  EXPECT_EQ(edit("TC_SearchDir")->text(), "/boot/beos/documentation/Be Book");
}

TEST_F(ViewsTest, EnterSendsTheFieldsMessageAndThenPressesTheDefaultButton) {
  window->Show();
  QTest::keyClick(edit("TC_SearchFor"), Qt::Key_Return);
  drain();
  EXPECT_EQ(codes(), std::vector<uint32>{four_cc("srcb")});
  window->received.clear();
  QTest::keyClick(edit("TC_SearchDir"), Qt::Key_Enter);
  drain();
  EXPECT_EQ(codes(), (std::vector<uint32>{24, four_cc("srcb")}));
  window->received.clear();
  QTest::keyClicks(edit("TC_SearchFor"), "ab");
  drain();
  EXPECT_EQ(codes(), (std::vector<uint32>{four_cc("srcs"), four_cc("srcs")}));
  void* source = nullptr;
  window->received[0].FindPointer("source", &source);
  EXPECT_EQ(source, window->FindView("TC_SearchFor"));
  window->received.clear();
  QTest::mouseClick(static_cast<BButton*>(window->FindView("B_OpenFile"))->Button(), Qt::LeftButton);
  drain();
  EXPECT_EQ(codes(), std::vector<uint32>{four_cc("filb")});
}

TEST_F(ViewsTest, TheArchivedScrollBarsScrollTheList) {
  auto* list = static_cast<BListView*>(window->FindView("LV_Matches"));
  auto* scroll = static_cast<BScrollView*>(window->FindView("SV_Matches"));
  window->Show();
  for (int i = 0; i < 200; ++i) list->AddItem(new BStringItem(("item " + std::to_string(i)).c_str()));
  drain();
  QScrollBar* vertical = scroll->ScrollBar(B_VERTICAL)->Bar();
  EXPECT_GT(vertical->maximum(), 0);
  vertical->setValue(vertical->maximum());
  EXPECT_EQ(list->List()->verticalScrollBar()->value(), vertical->maximum());
  while (BListItem* item = list->RemoveItem(int32(0))) delete item;
}

// Under a style that draws the menu titles taller than the archive's bar (Adwaita), the bar
// takes that height, so every title is drawn in it and none hides behind the overflow
// button; the window grows by the difference and every other view moves down by it. Under
// the style the archive fits, nothing moves.
TEST(MenuBarTest, TheBarTakesTheHeightTheStyleAsksAndTheViewsMoveDown) {
  if (!QStyleFactory::keys().contains("Adwaita", Qt::CaseInsensitive))
    GTEST_SKIP() << "the adwaita-qt6 style is not installed";
  QString before = QApplication::style()->name();
  auto build = [] {
    BMessage archive = window_archive();
    return new TarnWin(&archive);
  };
  auto frames = [](TarnWin* window) {
    std::map<std::string, BRect> all;
    BView* background = window->FindView("V_Background");
    for (int32 i = 0; i < background->CountChildren(); ++i)
      all[background->ChildAt(i)->Name()] = background->ChildAt(i)->Frame();
    return all;
  };
  TarnWin* plain = build();
  std::map<std::string, BRect> fitted = frames(plain);
  float plainHeight = plain->Bounds().Height();
  plain->Lock();
  plain->Quit();

  QApplication::setStyle("adwaita");
  TarnWin* window = build();
  window->Show();
  drain();
  auto* bar = static_cast<BMenuBar*>(window->FindView("MB"));
  QMenuBar* widget = bar->Bar();
  float grow = bar->Frame().Height() - fitted["MB"].Height();
  EXPECT_GT(grow, 0) << "Adwaita's bar is taller than the archive's";
  EXPECT_GE(float(widget->height()), float(widget->sizeHint().height()));
  for (QAction* menu : widget->actions()) {
    QRect title = widget->actionGeometry(menu);
    EXPECT_TRUE(title.isValid() && widget->rect().contains(title)) << menu->text().toStdString();
  }
  if (auto* overflow = widget->findChild<QWidget*>("qt_menubar_ext_button")) {
    EXPECT_FALSE(overflow->isVisible());
  }
  EXPECT_FLOAT_EQ(window->Bounds().Height(), plainHeight + grow);
  for (const auto& [name, frame] : frames(window)) {
    if (name == "MB") continue;
    BRect was = fitted[name];
    EXPECT_EQ(frame, BRect(was.left, was.top + grow, was.right, was.bottom + grow)) << name;
  }
  window->Lock();
  window->Quit();
  QApplication::setStyle(before);
}

// The window opens within the screen's free area, whatever the screen and the scale (the
// archive's frame reaches 417 pixels down, more than a 1366x768 screen at scale 2 has).
TEST(WindowFitTest, TheWindowOpensWithinTheScreen) {
  BMessage archive = window_archive();
  auto* window = new TarnWin(&archive);
  window->Show();
  drain();
  QWidget* widget = window->Widget();
  QRect area = widget->screen()->availableGeometry();
  EXPECT_TRUE(area.contains(widget->frameGeometry()))
      << area.width() << "x" << area.height() << " screen, window at " << widget->frameGeometry().y() << " to "
      << widget->frameGeometry().bottom();
  window->Lock();
  window->Quit();
}

TEST(LooperTest, MessagesPostedFromAnotherThreadArriveInOrder) {
  BMessage archive = window_archive();
  auto* window = new RecordingWindow(&archive);
  std::thread poster([window] {
    for (int32 i = 0; i < 100; ++i) {
      BMessage message(four_cc("test"));
      message.AddInt32("n", i);
      window->PostMessage(&message);
    }
  });
  poster.join();
  drain();
  ASSERT_EQ(window->received.size(), 100u);
  for (int32 i = 0; i < 100; ++i) {
    int32 n = -1;
    window->received[size_t(i)].FindInt32("n", &n);
    EXPECT_EQ(n, i);
  }
  EXPECT_TRUE(window->Lock());
  EXPECT_TRUE(window->Lock());  // the holder may lock again
  window->Unlock();
  window->Unlock();
  window->Quit();
}

}  // namespace
