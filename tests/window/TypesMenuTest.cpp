#include <QAction>
#include <QImage>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <cstring>
#include <set>
#include <gtest/gtest.h>

#include "TempTree.h"
#include "WindowFixture.h"
#include "platform/MimeType.h"
#include "platform/interface/Menu.h"
#include "platform/interface/View.h"
#include "search/Documents.h"
#include "window/TarnWin.h"

namespace {

class TypesMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BMessage archive = window_archive();
    window = new TarnWin(&archive);
    menu = window->typesMenu;
  }
  void TearDown() override { window->Quit(); }
  void choose(BMenuItem* item) {
    menu->ActionFor(item)->trigger();
    drain();
  }
  std::vector<std::string> selected() { return selected_types(window); }
  std::vector<std::string> marked() {
    std::vector<std::string> labels;
    for (int32 i = 0; i < menu->CountItems(); ++i)
      if (menu->ItemAt(i)->IsMarked()) labels.push_back(menu->ItemAt(i)->Label());
    return labels;
  }
  std::vector<std::string> html_types() {
    std::vector<std::string> html;
    for (const std::string& type : installed_text_types())
      if (type.rfind("text/html", 0) == 0) html.push_back(type);
    return html;
  }
  TarnWin* window;
  BMenu* menu;
};

TEST_F(TypesMenuTest, ListsTheInstalledTextTypesWithTheHtmlTypesSelected) {
  std::vector<std::string> types = installed_text_types();
  const std::vector<std::string>& documents = document_type_names();
  ASSERT_EQ(menu->CountItems(), int32(types.size() + documents.size()) + 3);
  EXPECT_STREQ(menu->ItemAt(0)->Label(), "All");
  EXPECT_EQ(menu->ActionFor(menu->ItemAt(0))->shortcut(), QKeySequence("Ctrl+Shift+A"));
  EXPECT_STREQ(menu->ItemAt(1)->Label(), "None");
  EXPECT_EQ(menu->ActionFor(menu->ItemAt(1))->shortcut(), QKeySequence("Ctrl+Shift+N"));
  EXPECT_TRUE(menu->ItemAt(2)->IsSeparator());
  for (size_t i = 0; i < types.size(); ++i) {
    EXPECT_EQ(menu->ItemAt(int32(i) + 3)->Label(), types[i]);
    EXPECT_EQ(menu->ItemAt(int32(i) + 3)->Message()->what, four_cc("MIME"));
  }
  // The document types follow, each an item of its own, none chosen at first.
  for (size_t i = 0; i < documents.size(); ++i) {
    BMenuItem* item = menu->ItemAt(int32(types.size() + i) + 3);
    EXPECT_EQ(item->Label(), documents[i]);
    EXPECT_EQ(item->Message()->what, four_cc("MIME"));
    EXPECT_FALSE(item->IsMarked());
  }
  // The textual types the database files under application/ are listed by their text/ names.
  for (const char* name : {"text/x-sh", "text/xml", "text/json", "text/yaml"})
    EXPECT_NE(menu->FindItem(name), nullptr) << name;
  EXPECT_EQ(menu->FindItem("application/x-shellscript"), nullptr);
  std::vector<std::string> html = html_types();
  EXPECT_EQ(html, (std::vector<std::string>{"text/html", "text/htmlh"}));  // this machine's
  EXPECT_EQ(marked(), html);
  EXPECT_EQ(selected(), html);
}

TEST_F(TypesMenuTest, ChoosingAnItemTogglesItAndMovesItToTheEnd) {
  BMenuItem* html = menu->FindItem("text/html");
  choose(html);
  EXPECT_FALSE(html->IsMarked());
  EXPECT_EQ(selected(), std::vector<std::string>{"text/htmlh"});
  choose(html);
  EXPECT_TRUE(html->IsMarked());
  EXPECT_EQ(selected(), (std::vector<std::string>{"text/htmlh", "text/html"}));
  BMessage dragged(four_cc("MIME"));  // dragged text: no "source"
  window->PostMessage(&dragged);
  drain();
  EXPECT_EQ(selected(), (std::vector<std::string>{"text/htmlh", "text/html"}));
}

TEST_F(TypesMenuTest, AllAndNoneSelectEveryTypeOrNone) {
  choose(menu->FindItem("text/htmlh"));  // only text/html stays selected
  choose(menu->FindItem("All"));
  std::vector<std::string> expected{"text/html"};
  for (const std::string& type : installed_text_types())
    if (type != "text/html") expected.push_back(type);
  EXPECT_EQ(selected(), expected);
  choose(menu->FindItem("All"));
  EXPECT_EQ(selected(), expected);
  EXPECT_FALSE(menu->FindItem("All")->IsMarked());
  choose(menu->FindItem("None"));
  EXPECT_TRUE(selected().empty());
  EXPECT_TRUE(marked().empty());
}

// "All" looks at the label's first four bytes: document types are chosen one by one, and
// "None" takes them out with the rest.
TEST_F(TypesMenuTest, AllLeavesTheDocumentTypesAndNoneTakesThemOut) {
  choose(menu->FindItem("application/pdf"));
  choose(menu->FindItem("All"));
  std::vector<std::string> chosen = selected();
  EXPECT_EQ(chosen.front(), "text/html");
  EXPECT_EQ(std::count(chosen.begin(), chosen.end(), "application/pdf"), 1);
  EXPECT_EQ(std::count(chosen.begin(), chosen.end(), "application/epub+zip"), 0);
  EXPECT_FALSE(menu->FindItem("application/epub+zip")->IsMarked());
  EXPECT_TRUE(window->markMime(BMimeType("application/EPUB+zip")));
  EXPECT_TRUE(menu->FindItem("application/epub+zip")->IsMarked());
  choose(menu->FindItem("None"));
  EXPECT_TRUE(selected().empty());
  EXPECT_TRUE(marked().empty());
}

TEST_F(TypesMenuTest, MarkMimeMarksOnlyTypeItems) {
  window->markMimes(false);
  EXPECT_TRUE(window->markMime(BMimeType("TEXT/Plain")));
  EXPECT_EQ(selected(), std::vector<std::string>{"text/plain"});
  EXPECT_TRUE(menu->FindItem("text/plain")->IsMarked());
  for (const char* other : {"text/x-no-such-type", "All", "all", "None", "", "not a type"})
    EXPECT_FALSE(window->markMime(BMimeType(other))) << other;
  EXPECT_EQ(selected(), std::vector<std::string>{"text/plain"});
  EXPECT_EQ(marked(), std::vector<std::string>{"text/plain"});
}

}  // namespace

namespace {

// The window driven from the keyboard alone: menus open with Alt and their first letter or
// F10, every type of the MIMEs menu can be reached on the screen there is, several types are
// ticked in one opening, and Tab follows the window's visual order.
class KeyboardTest : public TypesMenuTest {
 protected:
  void SetUp() override {
    TypesMenuTest::SetUp();
    window->Show();
    window->Widget()->activateWindow();
    // On a real display, a loaded machine may take a while to give the window the keyboard.
    ASSERT_TRUE(QTest::qWaitForWindowActive(window->Widget(), 5000));
    drain();
  }
  // Waits, up to two seconds, for this popup to be the open one: on a real display it opens
  // once the server has mapped it.
  static bool popup_open(QWidget* popup) {
    return QTest::qWaitFor([&] { return QApplication::activePopupWidget() == popup; }, 2000);
  }
  void TearDown() override {
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    TypesMenuTest::TearDown();
  }
  QMenu* types() { return menu->Widget(); }
  void key(QWidget* to, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(to, Qt::Key(key), modifiers);
    drain();
  }
};

TEST_F(KeyboardTest, AltAndAFirstLetterOrF10OpenTheMenus) {
  QWidget* field = window->FindView("TC_SearchFor")->Widget()->findChild<QLineEdit*>();
  field->setFocus();
  key(field, Qt::Key_M, Qt::AltModifier);
  ASSERT_TRUE(popup_open(types()));
  QApplication::activePopupWidget()->close();
  drain();
  key(field, Qt::Key_R, Qt::AltModifier);
  ASSERT_TRUE(popup_open(window->restoreMenu->Widget()));
  QApplication::activePopupWidget()->close();
  drain();
  key(field, Qt::Key_F10);
  BMenu* file = static_cast<BMenuBar*>(window->FindView("MB"))->SubmenuAt(0);
  EXPECT_TRUE(popup_open(file->Widget()));
  EXPECT_STREQ(file->Name(), "File");  // the label keeps its text
}

TEST_F(KeyboardTest, EveryTypeIsReachedOnScreenAndSeveralAreTickedInOneOpening) {
  QWidget* field = window->FindView("TC_SearchFor")->Widget()->findChild<QLineEdit*>();
  field->setFocus();
  key(field, Qt::Key_M, Qt::AltModifier);
  QMenu* popup = types();
  ASSERT_TRUE(popup_open(popup));
  QRect screen = popup->screen()->availableGeometry();
  std::set<QAction*> reached;
  int typeItems = 0;
  for (int32 i = 0; i < menu->CountItems(); ++i)
    if (strncmp(menu->ItemAt(i)->Label(), "text", 4) == 0) ++typeItems;
  for (int step = 0; step < typeItems + 10; ++step) {
    key(popup, Qt::Key_Down);
    QAction* active = popup->activeAction();
    ASSERT_NE(active, nullptr);
    // Shown where it can be seen: inside the menu, and on the screen.
    QRect at = popup->actionGeometry(active).translated(popup->pos());
    EXPECT_TRUE(screen.contains(at.center())) << active->text().toStdString() << " at " << at.y();
    EXPECT_TRUE(popup->geometry().contains(at.center())) << active->text().toStdString();
    if (active->text().startsWith("text")) reached.insert(active);
  }
  EXPECT_EQ(int(reached.size()), typeItems);

  // Ticks three unmarked types without the menu closing in between.
  std::vector<std::string> before = selected_types(window);
  int ticked = 0;
  for (int step = 0; step < typeItems && ticked < 3; ++step) {
    key(popup, Qt::Key_Up);
    QAction* active = popup->activeAction();
    if (active == nullptr || !active->text().startsWith("text") || active->isChecked()) continue;
    key(popup, Qt::Key_Return);
    ++ticked;
    EXPECT_EQ(QApplication::activePopupWidget(), popup);
    EXPECT_TRUE(active->isChecked()) << active->text().toStdString();
  }
  EXPECT_EQ(ticked, 3);
  EXPECT_EQ(selected_types(window).size(), before.size() + 3);
  // A click on a type does the same: text/html, ticked from the start, is unticked.
  QAction* html = menu->ActionFor(menu->FindItem("text/html"));
  ASSERT_NE(html, nullptr);
  popup->setActiveAction(html);  // scrolled into sight
  drain();
  QRect where = popup->actionGeometry(html);
  ASSERT_TRUE(popup->rect().contains(where.center()));
  QTest::mouseClick(popup, Qt::LeftButton, Qt::NoModifier, where.center());
  drain();
  EXPECT_EQ(QApplication::activePopupWidget(), popup);
  EXPECT_FALSE(menu->FindItem("text/html")->IsMarked());
}



TEST_F(KeyboardTest, TabFollowsTheVisualOrder) {
  auto owner = [&](QWidget* focused) -> std::string {
    for (const char* name : {"B_OpenFile", "TC_File", "TC_SearchDir", "TC_SearchFor", "B_Search", "LV_Matches"}) {
      QWidget* widget = window->FindView(name)->Widget();
      if (focused == widget || widget->isAncestorOf(focused)) return name;
    }
    return "elsewhere";
  };
  window->FindView("B_OpenFile")->Widget()->setFocus();
  drain();
  ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::focusWidget() != nullptr; }, 2000));
  std::vector<std::string> order{owner(QApplication::focusWidget())};
  for (int i = 0; i < 5; ++i) {
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    key(QApplication::focusWidget(), Qt::Key_Tab);
    order.push_back(owner(QApplication::focusWidget()));
  }
  EXPECT_EQ(order, (std::vector<std::string>{"B_OpenFile", "TC_File", "TC_SearchDir", "TC_SearchFor", "B_Search",
                                             "LV_Matches"}));
  // A button with the focus looks it.
  for (const char* name : {"B_Search", "B_OpenFile"}) {
    QWidget* button = window->FindView(name)->Widget();
    window->FindView("TC_SearchFor")->Widget()->findChild<QLineEdit*>()->setFocus();
    drain();
    QImage without = button->grab().toImage();
    button->setFocus(Qt::TabFocusReason);
    drain();
    ASSERT_TRUE(button->hasFocus()) << name;
    EXPECT_NE(button->grab().toImage(), without) << name;
  }
}

}  // namespace
