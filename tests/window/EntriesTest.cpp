#include <QDropEvent>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

#include "TempTree.h"
#include "WindowFixture.h"
#include "platform/AppDefs.h"
#include "platform/Entry.h"
#include "platform/MimeType.h"
#include "platform/Node.h"
#include "platform/NodeInfo.h"
#include "platform/Path.h"
#include "platform/interface/Controls.h"
#include "platform/interface/FilePanel.h"
#include "platform/interface/ListView.h"
#include "platform/interface/Menu.h"
#include "saved/SavedSearch.h"
#include "window/TarnWin.h"

namespace {

constexpr const char* kSignature = "application/x-vnd.TaRnWiCkLoFt";

class EntriesTest : public WindowsTest {
 protected:
  void SetUp() override {
    window = Build<TarnWin>();
    window->Show();
  }
  QLineEdit* edit(const char* control) {
    return static_cast<BTextControl*>(window->FindView(control))->TextView()->LineEdit();
  }
  std::string text(const char* control) { return edit(control)->text().toStdString(); }
  // Drops files on a widget as a file manager does: URLs and their text together.
  void drop(QWidget* target, const std::vector<std::string>& paths) {
    QMimeData data;
    QList<QUrl> urls;
    QString joined;
    for (const std::string& path : paths) {
      urls << QUrl::fromLocalFile(QString::fromStdString(path));
      joined += QString::fromStdString(path) + "\n";
    }
    data.setUrls(urls);
    data.setText(joined);
    QDragEnterEvent enter(QPoint(3, 3), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent dropped(QPointF(3, 3), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &dropped);
    drain();
  }
  void drop(const std::vector<std::string>& paths) { drop(edit("TC_SearchFor"), paths); }
  std::vector<std::string> selected() { return selected_types(window); }
  void command(uint32 code) {
    window->PostMessage(code);
    drain();
  }
  std::string preferred(const std::string& path) {
    char value[256] = {};
    return getxattr(path.c_str(), "user.preferred_app", value, sizeof value - 1) > 0 ? value : "";
  }

  TarnWin* window;
  TempTree tree;
};

TEST_F(EntriesTest, ADroppedTextFileBecomesTheExampleFile) {
  std::string first = tree.file("docs/first.txt", "x");
  std::string second = tree.file("other/second.txt", "y");
  drop({first, second, tree.file("third.html", "z", "text/html")});
  EXPECT_EQ(text("TC_File"), first);  // only the first of three is used
  EXPECT_STREQ(window->Title(), "Tarnwickloft - first.txt");
  EXPECT_EQ(text("TC_SearchDir"), tree.path("docs"));
  EXPECT_EQ(selected(), std::vector<std::string>{"text/plain"});
  EXPECT_FALSE(window->defaultAppItem->IsMarked());
  EXPECT_EQ(text("TC_SearchFor"), "");  // the drop went to the window, not into the field

  BNode node(second.c_str());
  BNodeInfo(&node).SetPreferredApp(kSignature);
  drop(static_cast<BListView*>(window->FindView("LV_Matches"))->List()->viewport(), {second});
  EXPECT_EQ(text("TC_File"), second);
  EXPECT_TRUE(window->defaultAppItem->IsMarked());
}

TEST_F(EntriesTest, ATypeWithoutAnItemLeavesNoTypeSelected) {
  drop({tree.file("picture.png", "png", "image/png")});
  EXPECT_TRUE(selected().empty());
  EXPECT_STREQ(window->Title(), "Tarnwickloft - picture.png");
}

TEST_F(EntriesTest, ADroppedFolderBecomesTheSearchFolderAndKeepsTheTypes) {
  drop({tree.file("a.txt", "x")});
  window->defaultAppItem->SetMarked(true);
  std::string folder = tree.folder("search here");
  drop({folder});
  EXPECT_EQ(text("TC_File"), "");
  EXPECT_STREQ(window->Title(), "Tarnwickloft");
  EXPECT_FALSE(window->defaultAppItem->IsMarked());
  EXPECT_EQ(text("TC_SearchDir"), folder);
  EXPECT_EQ(selected(), std::vector<std::string>{"text/plain"});
}

TEST_F(EntriesTest, ASavedSearchIsRestoredAndACaseVariantTypeIsAnExampleFile) {
  BMessage record(four_cc("arch"));
  record.AddString("TC_SearchDir", "/from/the/record");
  record.AddString("Types", "text/css");
  std::string saved = tree.path("saved");
  ASSERT_EQ(write_saved_search(saved.c_str(), record), B_OK);
  drop({saved});
  EXPECT_EQ(text("TC_SearchDir"), "/from/the/record");
  EXPECT_STREQ(window->Title(), "Tarnwickloft - saved");
  EXPECT_EQ(selected(), std::vector<std::string>{"text/css"});

  std::string variant = tree.path("variant");
  write_saved_search(variant.c_str(), record);
  BNode node(variant.c_str());
  BNodeInfo(&node).SetType("Message/X-Tarnwickloft");
  drop({variant});
  EXPECT_EQ(text("TC_File"), variant);
  EXPECT_EQ(text("TC_SearchDir"), tree.root());
  EXPECT_EQ(window->currentSearchPath, nullptr);
}

TEST_F(EntriesTest, ALinkActsAsItsTargetAndADanglingLinkIsIgnored) {
  std::string target = tree.file("real/target.txt", "x");
  drop({tree.link("link.txt", target)});
  EXPECT_EQ(text("TC_File"), target);
  EXPECT_EQ(text("TC_SearchDir"), tree.path("real"));
  drop({tree.link("dangling", tree.path("gone"))});
  EXPECT_EQ(text("TC_File"), target);
  EXPECT_STREQ(window->Title(), "Tarnwickloft - target.txt");
}

TEST_F(EntriesTest, AfterADropSaveAsksForANameAndTheNextStartStillRestores) {
  std::string saved = tree.path("last search");
  BPath path(saved.c_str());
  window->SaveStateToFile(&path);
  drop({tree.folder("elsewhere")});
  EXPECT_EQ(window->currentSearchPath, nullptr);
  window->Save();
  ASSERT_NE(window->savePanel, nullptr);
  EXPECT_TRUE(window->savePanel->IsShowing());
  window->savePanel->Hide();
  EXPECT_EQ(read_file(settings_path()), saved);
  TarnWin* next = Build<TarnWin>();  // as at the next start
  EXPECT_STREQ(next->Title(), "Tarnwickloft - last search");
}

TEST_F(EntriesTest, TheFileButtonOpensTheExampleFileInTheApplicationForItsType) {
  int32 beeps = beep_count();
  command(four_cc("filb"));  // nothing in "File:"
  EXPECT_EQ(beep_count(), beeps + 1);
  std::string page = tree.file("page.html", "<p>", "text/html");
  BNode node(page.c_str());
  BNodeInfo(&node).SetPreferredApp("application/x-some-other-app");
  drop({page});
  unlink((test_home() + "/opened").c_str());
  QTest::mouseClick(static_cast<BButton*>(window->FindView("B_OpenFile"))->Button(), Qt::LeftButton);
  drain();
  std::string opened;
  for (int i = 0; i < 100 && opened.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    opened = read_file(test_home() + "/opened");
  }
  EXPECT_EQ(opened, page + "\n");
  std::string untyped = tree.file("blob", std::string("\x01\x02\x00\xff", 4), "");
  edit("TC_File")->setText(QString::fromStdString(untyped));
  beeps = beep_count();
  command(four_cc("filb"));
  EXPECT_EQ(beep_count(), beeps + 1);  // no type, no application
}

TEST_F(EntriesTest, TarnwickloftIsDefaultSetsThenRemovesThePreferredApplication) {
  std::string file = tree.file("example.txt", "x");
  drop({file});
  BMenu* fileMenu = static_cast<BMenuBar*>(window->FindView("MB"))->SubmenuAt(0);
  fileMenu->ActionFor(window->defaultAppItem)->trigger();
  drain();
  EXPECT_EQ(preferred(file), kSignature);
  EXPECT_TRUE(window->defaultAppItem->IsMarked());
  fileMenu->ActionFor(window->defaultAppItem)->trigger();
  drain();
  EXPECT_EQ(preferred(file), "");
  EXPECT_FALSE(window->defaultAppItem->IsMarked());

  // Enter in "File:" reads the mark from the file.
  BNode node(file.c_str());
  BNodeInfo(&node).SetPreferredApp(kSignature);
  QTest::keyClick(edit("TC_File"), Qt::Key_Return);
  drain();
  EXPECT_TRUE(window->defaultAppItem->IsMarked());
}

TEST_F(EntriesTest, AFileThatDoesNotTakeTheSettingBeepsAndKeepsTheMark) {
  // A named pipe opens for reading and writing, but holds no user attributes.
  std::string pipe = tree.path("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  edit("TC_File")->setText(QString::fromStdString(pipe));
  int32 beeps = beep_count();
  command(four_cc("fldf"));
  EXPECT_EQ(beep_count(), beeps + 1);
  EXPECT_FALSE(window->defaultAppItem->IsMarked());
}

TEST_F(EntriesTest, EnterOnAFileThatCannotBeWrittenBeepsAndKeepsTheMark) {
  std::string file = tree.file("locked.txt", "x");
  drop({file});
  window->defaultAppItem->SetMarked(true);
  // Root writes through permissions, so an immutable file stands in for a read-only one.
  bool locked = geteuid() == 0 ? system(("chattr +i '" + file + "' 2>/dev/null").c_str()) == 0
                               : chmod(file.c_str(), 0444) == 0;
  if (!locked) GTEST_SKIP() << "no way to make a file read-only here";
  int32 beeps = beep_count();
  QTest::keyClick(edit("TC_File"), Qt::Key_Return);
  drain();
  command(four_cc("fldf"));
  if (geteuid() == 0) system(("chattr -i '" + file + "'").c_str());
  EXPECT_EQ(beep_count(), beeps + 2);
  EXPECT_TRUE(window->defaultAppItem->IsMarked());
}

}  // namespace
