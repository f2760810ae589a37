#include "Application.h"

#include <QApplication>
#include <atomic>

#include "DropFilter.h"
#include "platform/AppDefs.h"

BApplication* be_app = nullptr;

namespace {

std::atomic<int32> beeps{0};

// QApplication keeps references to argc and argv for its whole life.
int appArgc = 1;
char appName[] = "tarnwickloft";
char* appArgv[] = {appName, nullptr};

}  // namespace

void beep() {
  ++beeps;
  QApplication::beep();
}

int32 beep_count() { return beeps.load(); }

BApplication::BApplication(const char* signature)
    : BLooper(signature), signature_(signature ? signature : "") {
  if (QApplication::instance() == nullptr) ownApp_ = std::make_unique<QApplication>(appArgc, appArgv);
  dropFilter_ = new DropFilter(qApp);
  qApp->installEventFilter(dropFilter_);
  be_app = this;
}

BApplication::~BApplication() {
  if (be_app == this) be_app = nullptr;
  delete dropFilter_;
}

void BApplication::Run() {
  if (!quit_) QApplication::exec();
}

void BApplication::Quit() {
  quit_ = true;
  QCoreApplication::quit();
}

void BApplication::DispatchMessage(BMessage* message, BHandler* handler) {
  if (message->what == B_QUIT_REQUESTED && handler == this) {
    if (QuitRequested()) Quit();
    return;
  }
  handler->MessageReceived(message);
}

void BApplication::MessageReceived(BMessage* message) {
  if (message->what == B_REFS_RECEIVED) RefsReceived(message);
  if (message->what == B_ARGV_RECEIVED) ArgvReceived(0, nullptr);
}

void BApplication::RefsReceived(BMessage*) {}

void BApplication::ArgvReceived(int32, char**) {}
