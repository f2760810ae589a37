#include <QAbstractButton>
#include <QPushButton>
#include <QAction>
#include <QApplication>
#include <QListView>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QDropEvent>
#include <QUrl>
#include <QTest>
#include <QTimer>
#include <QStyleOptionViewItem>
#include <QImage>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>
#include <gtest/gtest.h>

#include "TempTree.h"
#include "WindowFixture.h"
#include "platform/Entry.h"
#include "tools/DarkPalette.h"
#include <QFileDialog>
#include <QLineEdit>
#include "platform/interface/FilePanel.h"
#include "platform/interface/HeldInput.h"
#include "platform/interface/Controls.h"
#include "platform/interface/ListView.h"
#include "platform/interface/Menu.h"
#include "window/Commands.h"
#include "window/TarnWin.h"

namespace {

// The real window, recording the codes its command table is given and those that pass on to
// BWindow::DispatchMessage (which hands them to MessageReceived).
class RecordingWin : public TarnWin {
 public:
  RecordingWin(BMessage* archive, bool* destroyed) : TarnWin(archive), destroyed_(destroyed) {}
  ~RecordingWin() override { *destroyed_ = true; }
  void DispatchMessage(BMessage* message, BHandler* handler) override {
    dispatched.push_back(message->what);
    if (seen) seen(message->what);
    messages.push_back(*message);
    if (swallow) return;  // recorded only, for tests of what reaches the window
    TarnWin::DispatchMessage(message, handler);
    finished.push_back(message->what);
  }
  void MessageReceived(BMessage* message) override { passedOn.push_back(message->what); }
  std::vector<uint32> dispatched, finished, passedOn;
  std::vector<BMessage> messages;
  bool swallow = false;
  std::function<void(uint32)> seen;  // told of each message as it is dispatched

 private:
  bool* destroyed_;
};

class CountedItem : public BStringItem {
 public:
  explicit CountedItem(const char* text) : BStringItem(text) { ++alive; }
  ~CountedItem() override { --alive; }
  static inline int alive = 0;
};

class TarnWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BMessage archive = window_archive();
    window = new RecordingWin(&archive, &destroyed);
  }
  void TearDown() override {
    if (!destroyed) window->Quit();
  }
  BMenuBar* bar() { return dynamic_cast<BMenuBar*>(window->FindView("MB")); }
  BMenu* fileMenu() { return bar()->SubmenuAt(0); }
  void trigger(const char* label) {
    BMenuItem* item = fileMenu()->FindItem(label);
    ASSERT_NE(item, nullptr) << label;
    fileMenu()->ActionFor(item)->trigger();
    drain();
  }
  BListView* matches() { return dynamic_cast<BListView*>(window->FindView("LV_Matches")); }

  RecordingWin* window;
  bool destroyed = false;
};

TEST_F(TarnWinTest, TheConstructorAddsTheMenuBarAndTheListMessages) {
  BMenuBar* menuBar = bar();
  ASSERT_NE(menuBar, nullptr);
  BView* background = window->FindView("V_Background");
  EXPECT_EQ(background->ChildAt(background->CountChildren() - 1), menuBar);
  EXPECT_EQ(menuBar->Frame(), BRect(0, 2, 261, 18));
  EXPECT_EQ(menuBar->ResizingMode(), 0x1214u);
  ASSERT_EQ(menuBar->CountItems(), 3);
  EXPECT_STREQ(menuBar->SubmenuAt(0)->Name(), "File");
  EXPECT_EQ(menuBar->SubmenuAt(1), window->typesMenu);
  EXPECT_STREQ(window->typesMenu->Name(), "MIMEs");
  EXPECT_EQ(menuBar->SubmenuAt(2), window->restoreMenu);
  EXPECT_STREQ(window->restoreMenu->Name(), "Restore");
  EXPECT_EQ(window->restoreMenu->CountItems(), 0);

  struct Row {
    const char* label;
    uint32 code;
    char shortcut;
  } rows[] = {{"Open...", four_cc("opnf"), 'O'},
              {"Save", four_cc("save"), 'S'},
              {"Save As...", four_cc("svas"), 'A'},
              {"", 0, 0},
              {"Tarnwickloft is Default", four_cc("fldf"), 'D'},
              {"Show Paths", four_cc("shpa"), 'P'},
              {"", 0, 0},
              {"About Tarnwickloft", four_cc("abot"), 0},
              {"", 0, 0},
              {"Close", B_QUIT_REQUESTED, 'W'}};
  BMenu* file = fileMenu();
  ASSERT_EQ(file->CountItems(), 10);
  for (int32 i = 0; i < 10; ++i) {
    BMenuItem* item = file->ItemAt(i);
    EXPECT_STREQ(item->Label(), rows[i].label) << i;
    EXPECT_EQ(item->IsSeparator(), rows[i].code == 0) << i;
    if (rows[i].code == 0) continue;
    EXPECT_EQ(item->Message()->what, rows[i].code) << i;
    EXPECT_TRUE(item->Message()->IsEmpty()) << i;
    EXPECT_EQ(item->Shortcut(), rows[i].shortcut) << i;
  }
  EXPECT_EQ(window->defaultAppItem, file->ItemAt(4));
  EXPECT_EQ(window->showPathsItem, file->ItemAt(5));
  EXPECT_FALSE(window->showPathsItem->IsMarked());
  EXPECT_FALSE(window->defaultAppItem->IsMarked());
  EXPECT_EQ(file->ActionFor(file->ItemAt(0))->shortcut(), QKeySequence("Ctrl+O"));
  EXPECT_EQ(window->openPanel, nullptr);
  EXPECT_EQ(window->savePanel, nullptr);
  EXPECT_EQ(window->savedSearchDir, nullptr);
  EXPECT_EQ(window->currentSearchPath, nullptr);
  EXPECT_EQ(window->selectedTypes.CountItems(), 2);  // text/html and text/htmlh
  EXPECT_EQ(matches()->InvocationMessage()->what, four_cc("sriv"));
  EXPECT_EQ(matches()->SelectionMessage()->what, four_cc("srsl"));
  // The archive's folder exists nowhere here: a first start searches the home folder.
  EXPECT_STREQ(static_cast<BTextControl*>(window->FindView("TC_SearchDir"))->Text(), getenv("HOME"));
}

// With "Show Paths", a path too long for the list loses its middle and keeps its file name.
TEST_F(TarnWinTest, ALongPathKeepsItsFileNameInSight) {
  window->Show();
  std::string path = "/home/someone/" + std::string(300, 'x') + "/the file name.txt";
  matches()->AddItem(new BStringItem(path.c_str()));
  QListView* list = matches()->List();
  QStyleOptionViewItem option;
  option.initFrom(list);
  option.rect = QRect(0, 0, list->viewport()->width(), 20);
  option.textElideMode = list->textElideMode();
  option.text = QString::fromStdString(path);
  option.features |= QStyleOptionViewItem::HasDisplay;
  QString shown = option.fontMetrics.elidedText(option.text, option.textElideMode, option.rect.width());
  EXPECT_TRUE(shown.endsWith("the file name.txt")) << shown.toStdString();
  EXPECT_TRUE(shown.startsWith("/home/")) << shown.toStdString();
  delete matches()->RemoveItem(int32(0));
}

TEST_F(TarnWinTest, TableCodesNeverReachBWindowAndOtherCodesDo) {
  size_t posted = 0;
  for (const TarnWin::Command& row : TarnWin::CommandTable()) {
    // The rows that show a panel or an alert are tested below.
    if (row.code == four_cc("opnf") || row.code == four_cc("abot")) continue;
    window->PostMessage(row.code);
    if (row.code != four_cc("rply")) ++posted;
  }
  window->PostMessage(24);  // the invocation of "Search Dir:", not in the table
  drain();
  EXPECT_EQ(window->passedOn, std::vector<uint32>{24});
  // Commands that waited for the search "srcb" started are run again by "rply" messages.
  EXPECT_EQ(std::count_if(window->finished.begin(), window->finished.end(), [](uint32 code) { return code != four_cc("rply"); }),
            ptrdiff_t(posted + 1));
}

TEST_F(TarnWinTest, OpenReusesOnePanelAndBringsItBack) {
  trigger("Open...");
  BFilePanel* panel = window->openPanel;
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(panel->IsShowing());
  trigger("Open...");
  EXPECT_EQ(window->openPanel, panel);
  EXPECT_TRUE(panel->IsShowing());
  panel->Hide();
  trigger("Open...");
  EXPECT_EQ(window->openPanel, panel);
  EXPECT_TRUE(panel->IsShowing());
  EXPECT_TRUE(window->passedOn.empty());
  panel->Hide();
}

TEST_F(TarnWinTest, TheOpenPanelTakesAFolderAsWellAsAFile) {
  TempTree tree;
  std::string folder = tree.folder("chosen folder");
  std::string file = tree.file("chosen file.txt", "x");
  trigger("Open...");
  for (const std::string& chosen : {folder, file}) {
    window->messages.clear();
    // As a user would: type the entry's path into the panel's name field, and accept.
    auto* name = window->openPanel->Dialog()->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->setText(QString::fromStdString(chosen));
    QMetaObject::invokeMethod(window->openPanel->Dialog(), "accept", Qt::DirectConnection);
    drain();
    ASSERT_EQ(window->messages.size(), 1u) << chosen;
    EXPECT_EQ(window->messages[0].what, B_REFS_RECEIVED);
    entry_ref ref, expected;
    ASSERT_EQ(window->messages[0].FindRef("refs", &ref), B_OK);
    BEntry(chosen.c_str()).GetRef(&expected);
    EXPECT_EQ(ref, expected) << chosen;
    EXPECT_FALSE(window->openPanel->IsShowing());  // hidden when done
    trigger("Open...");
  }
  window->openPanel->Hide();
}

TEST_F(TarnWinTest, ShowPathsTogglesTheMarkAndLeavesTheLabels) {
  matches()->AddItem(new BStringItem("report.txt"));
  QAction* action = fileMenu()->ActionFor(window->showPathsItem);
  trigger("Show Paths");
  EXPECT_TRUE(window->showPathsItem->IsMarked());
  EXPECT_TRUE(action->isChecked());
  EXPECT_EQ(matches()->List()->model()->index(0, 0).data().toString(), "report.txt");
  trigger("Show Paths");
  EXPECT_FALSE(window->showPathsItem->IsMarked());
  EXPECT_FALSE(action->isChecked());
  delete matches()->RemoveItem(int32(0));
}

TEST_F(TarnWinTest, TheShortcutsUseCtrl) {
  window->Show();
  window->Activate(true);
  QApplication::setActiveWindow(window->Widget());
  QTest::keyClick(window->Widget(), Qt::Key_P, Qt::ControlModifier);
  drain();
  EXPECT_TRUE(window->showPathsItem->IsMarked());
}

TEST_F(TarnWinTest, CloseQuitsTheApplicationAndTheDestructorDeletesTheResults) {
  for (const char* name : {"a", "b", "c"}) matches()->AddItem(new CountedItem(name));
  EXPECT_EQ(CountedItem::alive, 3);
  int requests = test_app()->quitRequests;
  trigger("Close");
  drain();
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(test_app()->quitRequests, requests + 1);
  EXPECT_EQ(CountedItem::alive, 0);
}

TEST_F(TarnWinTest, TheCloseBoxQuitsToo) {
  window->Show();
  int requests = test_app()->quitRequests;
  window->Widget()->close();
  drain();
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(test_app()->quitRequests, requests + 1);
}

TEST_F(TarnWinTest, DoubleClickingAMatchSendsItsIndex) {
  window->Show();
  matches()->AddItem(new BStringItem("first"));
  matches()->AddItem(new BStringItem("second"));
  QListView* list = matches()->List();
  QRect second = list->visualRect(list->model()->index(1, 0));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
  drain();
  EXPECT_NE(std::find(window->dispatched.begin(), window->dispatched.end(), four_cc("srsl")),
            window->dispatched.end());
  ASSERT_NE(std::find(window->dispatched.begin(), window->dispatched.end(), four_cc("sriv")),
            window->dispatched.end());
  while (BListItem* item = matches()->RemoveItem(int32(0))) delete item;
}

TEST_F(TarnWinTest, MessagesWaitWhileTheAboutAlertIsUp) {
  std::vector<uint32> duringAlert;
  QString text;
  QTimer::singleShot(50, [&] {
    window->PostMessage(four_cc("srsl"));
    QTimer::singleShot(50, [&] {
      duringAlert = window->dispatched;
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      text = box->text();
      EXPECT_EQ(box->windowTitle(), "");
      ASSERT_EQ(box->buttons().size(), 1);
      EXPECT_EQ(box->buttons()[0]->text(), "OK");
      box->buttons()[0]->click();
    });
  });
  trigger("About Tarnwickloft");
  drain();
  EXPECT_EQ(duringAlert, std::vector<uint32>{four_cc("abot")});
  EXPECT_TRUE(text.startsWith("Tarnwickloft")) << text.toStdString();
  EXPECT_EQ(window->finished, (std::vector<uint32>{four_cc("abot"), four_cc("srsl")}));
}

}  // namespace

namespace {

TEST_F(TarnWinTest, EveryMenuShortcutWorksWhereverTheFocusIs) {
  window->swallow = true;
  window->Show();
  window->Activate(true);
  QApplication::setActiveWindow(window->Widget());
  struct Shortcut {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    uint32 code;
  };
  const Shortcut shortcuts[] = {
      {Qt::Key_O, Qt::ControlModifier, command::kOpenPanel},
      {Qt::Key_S, Qt::ControlModifier, command::kSave},
      {Qt::Key_A, Qt::ControlModifier, command::kSaveAs},
      {Qt::Key_D, Qt::ControlModifier, command::kDefaultApp},
      {Qt::Key_P, Qt::ControlModifier, command::kShowPaths},
      {Qt::Key_W, Qt::ControlModifier, B_QUIT_REQUESTED},
      {Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier, command::kAllTypes},
      {Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier, command::kNoTypes},
  };
  std::vector<std::pair<std::string, QWidget*>> targets;
  for (const char* field : {"TC_File", "TC_SearchDir", "TC_SearchFor"})
    targets.emplace_back(field, static_cast<BTextControl*>(window->FindView(field))->TextView()->LineEdit());
  targets.emplace_back("LV_Matches", matches()->List());
  for (auto& [name, target] : targets) {
    target->setFocus();
    for (const Shortcut& shortcut : shortcuts) {
      window->dispatched.clear();
      QTest::keyClick(target, shortcut.key, shortcut.modifiers);
      drain();
      EXPECT_EQ(window->dispatched, std::vector<uint32>{shortcut.code})
          << name << ": " << QKeySequence(shortcut.key | shortcut.modifiers).toString().toStdString();
    }
  }
  // Keys that are not menu shortcuts still reach the field.
  auto* edit = static_cast<BTextControl*>(window->FindView("TC_SearchFor"))->TextView()->LineEdit();
  edit->setFocus();
  edit->setText("abc");
  QTest::keyClick(edit, Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(edit->cursorPosition(), 0);
}

// Shows the window, active, with the focus in an empty "Search For:" field, which it returns.
QLineEdit* focus_search_field(RecordingWin* window) {
  window->Show();
  window->Activate(true);
  QApplication::setActiveWindow(window->Widget());
  EXPECT_TRUE(QTest::qWaitForWindowActive(window->Widget()));
  auto* edit = static_cast<BTextControl*>(window->FindView("TC_SearchFor"))->TextView()->LineEdit();
  edit->setFocus();
  edit->clear();
  drain();
  return edit;
}

TEST_F(TarnWinTest, OnlyMarkedItemsShowAMark) {
  for (int32 i = 0; i < fileMenu()->CountItems(); ++i) {
    BMenuItem* item = fileMenu()->ItemAt(i);
    if (item->IsSeparator()) continue;
    EXPECT_FALSE(fileMenu()->ActionFor(item)->isCheckable()) << item->Label();
  }
  trigger("Show Paths");
  EXPECT_TRUE(fileMenu()->ActionFor(window->showPathsItem)->isCheckable());
  EXPECT_TRUE(fileMenu()->ActionFor(window->showPathsItem)->isChecked());
  trigger("Show Paths");
  EXPECT_FALSE(fileMenu()->ActionFor(window->showPathsItem)->isCheckable());
}

}  // namespace

namespace {

double luminance(const QColor& c) {
  auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

// The contrast ratio of the Web Content Accessibility Guidelines, from 1 to 21.
double contrast(const QColor& a, const QColor& b) {
  double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Under a light and a dark desktop palette, the text of the fields, the list, the buttons and
// the labels stands out from what is behind it.
// A field with the focus is framed in the highlight colour; without it, in grey.
TEST_F(TarnWinTest, AFieldWithTheFocusShowsAFocusFrame) {
  QLineEdit* edit = focus_search_field(window);
  auto border = [&] {
    QImage drawn = edit->grab().toImage();
    return drawn.pixelColor(0, drawn.height() / 2);
  };
  ASSERT_TRUE(edit->hasFocus());
  EXPECT_EQ(border(), edit->palette().color(QPalette::Highlight));
  static_cast<BButton*>(window->FindView("B_Search"))->Button()->setFocus();
  drain();
  ASSERT_FALSE(edit->hasFocus());
  EXPECT_NE(border(), edit->palette().color(QPalette::Highlight));
}

TEST(WindowColorsTest, TextIsReadableUnderALightAndADarkPalette) {
  QPalette desktop = QApplication::palette();
  QPalette light;
  light.setColor(QPalette::Window, QColor(246, 245, 244));
  light.setColor(QPalette::Base, QColor(255, 255, 255));
  light.setColor(QPalette::Text, QColor(0, 0, 0));
  // A style whose highlight hardly differs from the list, as some give an inactive window.
  light.setColor(QPalette::Active, QPalette::Highlight, QColor(236, 236, 236));
  light.setColor(QPalette::Inactive, QPalette::Highlight, QColor(240, 240, 240));
  for (const QPalette& palette : {light, dark_desktop_palette()}) {
    QApplication::setPalette(palette);
    BMessage archive = window_archive();
    auto* window = new TarnWin(&archive);
    auto edit = [&](const char* name) { return window->FindView(name)->Widget()->findChild<QLineEdit*>(); };
    for (const char* field : {"TC_File", "TC_SearchDir", "TC_SearchFor"}) {
      // The field as drawn: its background just inside the right border, where no text is.
      QLineEdit* line = edit(field);
      line->setText("x");
      QImage drawn = line->grab().toImage();
      QColor background = drawn.pixelColor(drawn.width() - 4, drawn.height() / 2);
      EXPECT_GE(contrast(line->palette().color(QPalette::Text), background), 4.5) << field;
      EXPECT_EQ(background, palette.color(QPalette::Base)) << field;  // it follows the desktop
      QPalette label = window->FindView(field)->Widget()->palette();
      EXPECT_GE(contrast(label.color(QPalette::WindowText), label.color(QPalette::Window)), 4.5) << field;
    }
    QPalette list = static_cast<BListView*>(window->FindView("LV_Matches"))->List()->palette();
    EXPECT_GE(contrast(list.color(QPalette::Text), list.color(QPalette::Base)), 4.5);
    // The current row stands out from the list, in an active window and an inactive one.
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
      EXPECT_GE(contrast(list.color(group, QPalette::Highlight), list.color(group, QPalette::Base)), 3.0) << group;
      EXPECT_GE(contrast(list.color(group, QPalette::HighlightedText), list.color(group, QPalette::Highlight)), 3.0)
          << group;
    }
    // The list is light in a light theme and dark in a dark one, a shade off the panel.
    EXPECT_EQ(list.color(QPalette::Base).lightness() > 128, palette.color(QPalette::Window).lightness() > 128);
    for (const char* button : {"B_Search", "B_OpenFile"}) {
      QPalette shown = window->FindView(button)->Widget()->palette();
      EXPECT_GE(contrast(shown.color(QPalette::ButtonText), shown.color(QPalette::Button)), 4.5) << button;
    }
    QPalette bar = window->FindView("MB")->Widget()->palette();
    EXPECT_GE(contrast(bar.color(QPalette::WindowText), bar.color(QPalette::Window)), 4.5);
    window->Lock();
    window->Quit();
  }
  QApplication::setPalette(desktop);
}

}  // namespace
