#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFont>
#include <QScreen>
#include <QEventLoop>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <unistd.h>
#include <gtest/gtest.h>

#include "TempTree.h"
#include "WindowFixture.h"
#include <sys/stat.h>
#include "platform/AppDefs.h"
#include "platform/AppFileInfo.h"
#include "platform/File.h"
#include "platform/interface/MenuItem.h"
#include "window/Commands.h"
#include "window/TarnWin.h"
#include "window/WindowArchive.h"

namespace {
TestApp* app = nullptr;
}

TestApp* test_app() { return app; }

BMessage window_archive() {
  BMessage archive;
  EXPECT_EQ(own_window_archive(&archive), B_OK);
  return archive;
}

namespace {

bool a_search_runs() {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* window = dynamic_cast<TarnWin*>(BWindow::ForWidget(widget)); window != nullptr && window->IsSearching())
      return true;
  return false;
}

void process_posted() {
  for (int round = 0; round < 20; ++round) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
}

}  // namespace

void drain() {
  process_posted();
  QDeadlineTimer deadline(30000);
  while (a_search_runs() && !deadline.hasExpired()) process_posted();
  process_posted();
}

void use_desktop_font_pixels(float pixels) {
  QFont font = QApplication::font();
  QScreen* screen = QGuiApplication::primaryScreen();
  font.setPointSizeF(pixels * 72 / (screen != nullptr ? screen->logicalDotsPerInchY() : 96));
  QApplication::setFont(font);
}

std::string test_home() { return getenv("HOME"); }

std::string take_opened() {
  std::string log;
  for (int i = 0; i < 100 && log.empty(); ++i) {
    log = read_file(test_home() + "/opened");
    if (log.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  unlink((test_home() + "/opened").c_str());
  return log;
}

// Every window test runs in a home of its own, where an editor and a file manager installed
// with the system (desktop entries, no mimeapps.list) record the paths they are given to
// $HOME/opened, and this program is registered as at its start.
static void make_test_home(TempTree& home) {
  setenv("HOME", home.root().c_str(), 1);
  setenv("XDG_CONFIG_HOME", home.path(".config").c_str(), 1);
  setenv("XDG_DATA_HOME", home.path(".local/share").c_str(), 1);
  set_system_data_folder(home);
  // No session bus: "Open Containing Folder" falls back to the application for folders.
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + home.path("no-bus")).c_str(), 1);
  add_recorder(home, "editor", "text/plain;text/html;text/x-chdr;text/x-csrc;application/json;");
  add_recorder(home, "files", "inode/directory;");
  BFile self("/proc/self/exe", B_READ_ONLY);
  BAppFileInfo registration(&self);
  registration.SetSignature(kTarnSignature);
  BMessage types(four_cc("MIME"));
  for (const char* type : {"text", "message/x-Tarnwickloft", "application/x-vnd.Be-directory"})
    types.AddString("types", type);
  registration.SetSupportedTypes(&types);
}

// Every test starts without a settings file, so its first window restores no saved search.
class ForgetSettings : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    unlink((std::string(getenv("XDG_CONFIG_HOME")) + "/Tarnwickloft Settings").c_str());
  }
};

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  TempTree home;
  make_test_home(home);
  testing::InitGoogleTest(&argc, argv);
  testing::UnitTest::GetInstance()->listeners().Append(new ForgetSettings);
  TestApp application;
  app = &application;
  use_desktop_font_pixels(kDesignFontPixels);
  return RUN_ALL_TESTS();
}

std::vector<std::string> selected_types(const TarnWin* window) {
  std::vector<std::string> labels;
  for (int32 i = 0; i < window->selectedTypes.CountItems(); ++i)
    labels.push_back(static_cast<BMenuItem*>(window->selectedTypes.ItemAt(i))->Label());
  return labels;
}
