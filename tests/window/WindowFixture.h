// Shared by the window tests: the application object, the archive from this executable's own
// resources, and a way to let posted messages be dispatched.
#pragma once

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

// The temporary home the tests run in; the recorder of opened files writes to "opened" there.
std::string test_home();

class TarnWin;
// The labels of the window's selected type list, in list order.
std::vector<std::string> selected_types(const TarnWin* window);

// Runs the event loop until every posted message has been dispatched.
void drain();
