#include <QAction>
#include <gtest/gtest.h>

#include "TempTree.h"
#include "WindowFixture.h"
#include "platform/MimeType.h"
#include "platform/interface/Menu.h"
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
  ASSERT_EQ(menu->CountItems(), int32(types.size()) + 3);
  EXPECT_STREQ(menu->ItemAt(0)->Label(), "All");
  EXPECT_EQ(menu->ActionFor(menu->ItemAt(0))->shortcut(), QKeySequence("Ctrl+Shift+A"));
  EXPECT_STREQ(menu->ItemAt(1)->Label(), "None");
  EXPECT_EQ(menu->ActionFor(menu->ItemAt(1))->shortcut(), QKeySequence("Ctrl+Shift+N"));
  EXPECT_TRUE(menu->ItemAt(2)->IsSeparator());
  for (size_t i = 0; i < types.size(); ++i) {
    EXPECT_EQ(menu->ItemAt(int32(i) + 3)->Label(), types[i]);
    EXPECT_EQ(menu->ItemAt(int32(i) + 3)->Message()->what, four_cc("MIME"));
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
