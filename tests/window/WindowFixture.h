// Shared by the window tests: the application object, the archive from this executable's own
// resources, and a way to let posted messages be dispatched.
#pragma once

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/Message.h"
#include "platform/interface/Application.h"

class TestApp : public BApplication {
 public:
  TestApp() : BApplication("application/x-vnd.TaRnWiCkLoFt") {}
  // Counts the requests and refuses them, so one test's "Close" leaves the loop to the next.
  bool QuitRequested() override {
    ++quitRequests;
    return false;
  }
  int quitRequests = 0;
};

TestApp* test_app();

// The window archive "W_Tarnwickloft" read from this executable's resources.
BMessage window_archive();

// Windows a test builds, each as at a start of the program (restoring what the settings file
// names; every test starts without one), and quit when the test ends.
class WindowsTest : public ::testing::Test {
 protected:
  template <typename Window>
  Window* Build() {
    BMessage archive = window_archive();
    auto* window = new Window(&archive);
    windows_.push_back(window);
    return window;
  }
  void TearDown() override {
    for (BLooper* window : windows_) window->Quit();
  }

 private:
  std::vector<BLooper*> windows_;
};

// The temporary home the tests run in; the recorder of opened files writes to "opened" there.
std::string test_home();
// What the recorders were given to open: waits up to three seconds for their log, then takes
// it away for the next check.
std::string take_opened();

class TarnWin;
// The labels of the window's selected type list, in list order.
std::vector<std::string> selected_types(const TarnWin* window);

// The text size the window archive was designed for ("designfsize"), in pixels.
constexpr float kDesignFontPixels = 10.78857421875f;
// Sets the desktop's text size, in pixels, for the windows built after it. The tests run at
// the design size.
void use_desktop_font_pixels(float pixels);

// How much slower than a plain build a sanitized one may be where a test bounds a time.
#ifdef TARNWICKLOFT_SANITIZED
constexpr int kSanitizerSlowdown = 3;
#else
constexpr int kSanitizerSlowdown = 1;
#endif

// Runs the event loop until every posted message has been dispatched, and every window's
// search has ended.
void drain();
