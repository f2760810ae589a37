#include "Application.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QSocketNotifier>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <vector>

#include "WindowEventFilter.h"
#include "platform/AppDefs.h"
#include "platform/DesktopFiles.h"
#include "platform/DirHandle.h"
#include "platform/Process.h"
#include "platform/Roster.h"
#include <unistd.h>

BApplication* be_app = nullptr;

namespace {

std::atomic<int32> beeps{0};

// QApplication keeps references to argc and argv for its whole life.
int appArgc = 1;
char appName[] = "tarnwickloft";
char* appArgv[] = {appName, nullptr};

// SIGTERM and SIGINT ask the application to quit, as a quit request from the desktop would:
// the handler only writes to a pipe, which the event loop watches.
int signalPipe[2] = {-1, -1};

void on_signal(int) { (void)!write(signalPipe[1], "q", 1); }

void watch_quit_signals(QObject* parent) {
  if (signalPipe[0] < 0 && pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, parent);
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
    char drained[16];
    while (read(signalPipe[0], drained, sizeof drained) > 0) {
    }
    if (be_app != nullptr) be_app->PostMessage(B_QUIT_REQUESTED);
  });
  struct sigaction action = {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

// The windows' icon by the name the desktop entry gives: from the icon theme, else the picture
// an installation puts beside it (where no theme is set, as under a bare window manager), else
// for a run from a build folder the source tree's.
QIcon application_icon(const std::string& id) {
  QString name = QString::fromStdString(id);
  if (QIcon::hasThemeIcon(name)) return QIcon::fromTheme(name);
  std::string exe = running_executable();
  std::vector<std::string> candidates = {
      exe.substr(0, exe.rfind('/') + 1) + "../share/icons/hicolor/scalable/apps/" + id + ".svg"};
#ifdef TARNWICKLOFT_SOURCE_ICON
  candidates.push_back(TARNWICKLOFT_SOURCE_ICON);
#endif
  for (const std::string& path : candidates)
    if (QFileInfo::exists(QString::fromStdString(path))) return QIcon(QString::fromStdString(path));
  return QIcon::fromTheme(name);
}

// The window class and the desktop file name that pair the windows with the desktop entry.
void name_for_the_desktop(const char* signature) {
  QCoreApplication::setApplicationName(kWindowClass);  // WM_CLASS: "Tarnwickloft", "Tarnwickloft"
  std::string id = desktop_id(signature);
  QGuiApplication::setDesktopFileName(QString::fromStdString(id));
  QApplication::setWindowIcon(application_icon(id));
}

}  // namespace

void beep() {
  ++beeps;
  QApplication::beep();
}

int32 beep_count() { return beeps.load(); }

BApplication::BApplication(const char* signature)
    : BLooper(signature), signature_(signature ? signature : "") {
  if (QApplication::instance() == nullptr) ownApp_ = std::make_unique<QApplication>(appArgc, appArgv);
  if (ownApp_ != nullptr) name_for_the_desktop(signature_.c_str());
  eventFilter_ = new WindowEventFilter(qApp);
  qApp->installEventFilter(eventFilter_);
  watch_quit_signals(eventFilter_);
  be_app = this;
  BMessage launched;
  if (take_launch_message(&launched) == B_OK) PostMessage(&launched);
}

status_t BApplication::GetAppInfo(app_info* info) const {
  if (info == nullptr) return B_BAD_VALUE;
  std::string path = running_executable();
  if (path.empty()) return B_ENTRY_NOT_FOUND;
  info->signature = signature_;
  info->team = getpid();
  return BEntry(path.c_str()).GetRef(&info->ref);
}

BApplication::~BApplication() {
  if (be_app == this) be_app = nullptr;
  delete eventFilter_;
}

void BApplication::Run() {
  if (!quit_) QApplication::exec();
}

void BApplication::Quit() {
  quit_ = true;
  QCoreApplication::quit();
}

void BApplication::MessageReceived(BMessage* message) {
  if (message->what == B_REFS_RECEIVED) RefsReceived(message);
  if (message->what == B_ARGV_RECEIVED) ArgvReceived(0, nullptr);
}

void BApplication::RefsReceived(BMessage*) {}

void BApplication::ArgvReceived(int32, char**) {}
