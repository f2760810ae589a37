#include "TarnApp.h"

#include <cstdio>
#include <cstring>

#include "platform/AppDefs.h"
#include "platform/AppFileInfo.h"
#include "platform/File.h"
#include "window/TarnWin.h"
#include "window/WindowArchive.h"

namespace {

// The start-up progress lines, the program's only diagnostics, each flushed at once.
void progress(const char* line) {
  printf("%s", line);
  fflush(stdout);
}

}  // namespace

TarnApp::TarnApp() : BApplication(kTarnSignature), searchWindow(nullptr) {
  progress("Constructor Start\n");
  app_info info;
  GetAppInfo(&info);
  progress("Pre lBf.SetTo()\n");
  // Read only: Linux refuses to open a running executable for writing, registration does not
  // write into it here, and the resources are only read.
  BFile image;
  image.SetTo(&info.ref, B_READ_ONLY);  // the result is not tested, as the steps below cope
  progress("Pre lBafi = new\n");
  auto* appFileInfo = new BAppFileInfo(&image);
  progress("Pre lBafi-SetAppFlags\n");
  // Registration that fails does not stop start-up.
  appFileInfo->SetAppFlags(B_MULTIPLE_LAUNCH);
  appFileInfo->SetSignature(kTarnSignature);
  BMessage types(four_cc("MIME"));
  types.AddString("types", "text");
  types.AddString("types", "message/x-Tarnwickloft");
  types.AddString("types", "application/x-vnd.Be-directory");
  appFileInfo->SetSupportedTypes(&types);
  progress("Pre delete lBafi\n");
  delete appFileInfo;
  progress("Pre re-hydrate TarnWin\n");
  if (!RehydrateTarnWin(image, searchWindow)) PostMessage(B_QUIT_REQUESTED);
}

TarnApp::~TarnApp() = default;

void TarnApp::MessageReceived(BMessage* msg) {
  switch (msg->what) {
    case B_ARGV_RECEIVED: beep(); break;
    case B_REFS_RECEIVED: RefsReceived(msg); break;
    default: BApplication::MessageReceived(msg); break;
  }
}

// The window may have quit already; then the application behaves as if it had none.
void TarnApp::RefsReceived(BMessage* msg) {
  printf("RefsReceived\n");
  if (searchWindow != nullptr && BLooper::IsAlive(searchWindow))
    searchWindow->PostMessage(msg);
  else
    beep();
}

bool RehydrateTarnWin(BFile& image, TarnWin*& window) {
  progress("Pre IF aTwRehydrated and lock stuff.");
  if (window != nullptr && BLooper::IsAlive(window) && window->Lock()) {
    progress("Inside aTwRehydrated and lock IF stmt.! - pre Activate()");
    window->Activate(true);
    progress("Inside aTwRehydrated and lock IF stmt.! - pre Unlock()");
    window->Unlock();
    return true;
  }
  BMessage archive;
  WindowArchiveReader reader;
  progress("Pre res.SetTo\n");
  if (reader.ReadResources(image) != B_OK) {
    printf("This is not a resource file \n");
    return false;
  }
  progress("Pre res.FindResource\n");
  if (reader.FindArchive() != B_OK) {
    printf("Can't find window in resource\n");
    return false;
  }
  progress("Pre lBmTemp.Unflatten\n");
  if (reader.Unflatten(&archive) != B_OK) {
    printf("Can't unflatten backing view\n");
    return false;
  }
  progress("Pre new TarnWin\n");
  const char* className = "";
  archive.FindString("class", &className);
  if (strcmp(className, "BWindow") != 0) {  // an archive of something that is not a window
    printf("Can't create window from resource message\n");
    return false;
  }
  window = new TarnWin(&archive);
  progress("Pre aTwRehydrated->Show()\n");
  window->Show();
  return true;
}
