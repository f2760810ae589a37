#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "TempTree.h"
#include "platform/MimeType.h"
#include "WindowFixture.h"
#include "platform/interface/Controls.h"
#include "platform/interface/ListView.h"
#include "platform/interface/Menu.h"
#include "window/EntryItem.h"
#include "window/TarnWin.h"

namespace {

class SearchRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BMessage archive = window_archive();
    window = new TarnWin(&archive);
    window->markMimes(false);
    window->markMime(BMimeType("text/plain"));
    window->Show();
    tree.file("one.txt", "a Needle in here");
    tree.file("sub/two.txt", "NEEDLE");
    tree.file("sub/other.txt", "nothing");
    tree.file("page.html", "needle", "text/html");
    tree.file("empty.txt", "");
    unlink((test_home() + "/opened").c_str());
  }
  void TearDown() override { window->Quit(); }

  QLineEdit* field(const char* name) {
    return static_cast<BTextControl*>(window->FindView(name))->TextView()->LineEdit();
  }
  // Types into a field as a user would, replacing what it held.
  void type(const char* name, const std::string& text) {
    field(name)->selectAll();
    QTest::keyClick(field(name), Qt::Key_Backspace);
    QTest::keyClicks(field(name), QString::fromStdString(text));
  }
  void search(const std::string& folder, const std::string& text) {
    type("TC_SearchDir", folder);
    type("TC_SearchFor", text);
    QTest::keyClick(field("TC_SearchFor"), Qt::Key_Return);
    drain();
  }
  BListView* matches() { return static_cast<BListView*>(window->FindView("LV_Matches")); }
  std::vector<std::string> labels() {
    std::vector<std::string> shown;
    for (int row = 0; row < matches()->List()->model()->rowCount(); ++row)
      shown.push_back(matches()->List()->model()->index(row, 0).data().toString().toStdString());
    std::sort(shown.begin(), shown.end());
    return shown;
  }
  void invoke(int32 index) {
    BMessage message(four_cc("sriv"));
    message.AddInt32("index", index);
    window->PostMessage(&message);
    drain();
  }
  std::string opened() { return take_opened(); }
  void double_click_first() {
    QListView* list = matches()->List();
    QPoint at = list->visualRect(list->model()->index(0, 0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    drain();
  }

  TarnWin* window;
  TempTree tree;
};

TEST_F(SearchRunTest, ListsTheMatchesByNameOnceAndDeletesTheEarlierOnes) {
  search(tree.root(), "needle");
  EXPECT_EQ(labels(), (std::vector<std::string>{"one.txt", "two.txt"}));
  int32 live = EntryItem::LiveCount();
  QTest::mouseClick(static_cast<BButton*>(window->FindView("B_Search"))->Button(), Qt::LeftButton);
  drain();
  EXPECT_EQ(labels(), (std::vector<std::string>{"one.txt", "two.txt"}));
  EXPECT_EQ(EntryItem::LiveCount(), live);  // the first run's two items are gone
  EXPECT_EQ(matches()->CountItems(), 2);
}

TEST_F(SearchRunTest, ShowPathsLabelsWithAbsolutePathsFromTheNextSearch) {
  search(tree.root(), "needle");
  window->ShowPaths(nullptr);
  EXPECT_EQ(labels(), (std::vector<std::string>{"one.txt", "two.txt"}));
  search(tree.root(), "needle");
  EXPECT_EQ(labels(), (std::vector<std::string>{tree.path("one.txt"), tree.path("sub/two.txt")}));
}

TEST_F(SearchRunTest, AnEmptyTextListsEveryNonEmptyFileOfASelectedType) {
  search(tree.root(), "");
  EXPECT_EQ(labels(), (std::vector<std::string>{"one.txt", "other.txt", "two.txt"}));
  window->markMimes(false);
  search(tree.root(), "");
  EXPECT_TRUE(labels().empty());
}

TEST_F(SearchRunTest, AFolderThatDoesNotOpenBeepsAndKeepsTheList) {
  search(tree.root(), "needle");
  for (const std::string& bad : {std::string(), tree.path("one.txt"), tree.path("missing")}) {
    int32 beeps = beep_count();
    search(bad, "needle");
    EXPECT_EQ(beep_count(), beeps + 1) << bad;
    EXPECT_EQ(labels(), (std::vector<std::string>{"one.txt", "two.txt"})) << bad;
  }
}

TEST_F(SearchRunTest, InvokingAMatchOpensItsOwnFile) {
  tree.file("a/same.txt", "needle");
  tree.file("b/same.txt", "needle");
  search(tree.path("a") + "/..", "needle");
  std::vector<std::string> opens;
  for (int32 i = 0; i < matches()->CountItems(); ++i) {
    invoke(i);
    opens.push_back(opened());
  }
  std::sort(opens.begin(), opens.end());
  EXPECT_EQ(opens, (std::vector<std::string>{tree.path("a/same.txt") + "\n", tree.path("b/same.txt") + "\n",
                                             tree.path("one.txt") + "\n", tree.path("sub/two.txt") + "\n"}));
}

TEST_F(SearchRunTest, DoubleClickingAMatchOpensIt) {
  search(tree.root(), "a needle");
  ASSERT_EQ(matches()->CountItems(), 1);
  double_click_first();
  EXPECT_EQ(opened(), tree.path("one.txt") + "\n");
}

// This program is registered, as at every start, beside an editor installed with the system:
// a C header opens in the editor, never in another search window.
TEST_F(SearchRunTest, DoubleClickingAHeaderOpensItInTheDesktopsEditor) {
  std::string header = tree.file("code/list.h", "struct needle;", "");
  window->markMime(BMimeType("text/x-chdr"));
  search(tree.path("code"), "needle");
  ASSERT_EQ(matches()->CountItems(), 1);
  double_click_first();
  EXPECT_EQ(opened(), header + "\n");
}

TEST_F(SearchRunTest, InvalidIndexesDoNothingAndAVanishedMatchBeepsOnce) {
  search(tree.root(), "a needle");
  int32 beeps = beep_count();
  invoke(-1);
  invoke(1);
  invoke(500);
  BMessage noIndex(four_cc("sriv"));
  window->PostMessage(&noIndex);
  drain();
  EXPECT_EQ(beep_count(), beeps);
  EXPECT_EQ(opened(), "");
  unlink(tree.path("one.txt").c_str());
  invoke(0);
  EXPECT_EQ(beep_count(), beeps + 1);
}

TEST_F(SearchRunTest, AMatchOfATypeNoApplicationHandlesBeeps) {
  tree.file("odd.txt", "needle", "text/x-nobody-opens-this");
  window->markMime(BMimeType("text/x-nobody-opens-this"));
  search(tree.root(), "needle");
  for (int32 i = 0; i < matches()->CountItems(); ++i) {
    if (matches()->List()->model()->index(i, 0).data().toString() != "odd.txt") continue;
    int32 beeps = beep_count();
    invoke(i);
    EXPECT_EQ(beep_count(), beeps + 1);
  }
}

}  // namespace

namespace {

// A JSON file is read as text/json, a name the desktop's applications do not list: it opens
// in the application for the database's own type.
TEST_F(SearchRunTest, AMatchReadByATextNameOpensInTheApplicationForItsType) {
  std::string json = tree.file("data/values.json", "{\"needle\": 1}", "");
  window->markMime(BMimeType("text/json"));
  search(tree.path("data"), "needle");
  ASSERT_EQ(matches()->CountItems(), 1);
  invoke(0);
  EXPECT_EQ(opened(), json + "\n");
}

}  // namespace
