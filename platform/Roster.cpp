#include "Roster.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <system_error>
#include <thread>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "AppDefs.h"
#include "DesktopFiles.h"
#include "Entry.h"
#include "List.h"
#include "Message.h"
#include "Node.h"
#include "NodeInfo.h"
#include "Path.h"
#include "TextTypes.h"

extern char** environ;

namespace {

constexpr int kMessageFd = 3;                 // where the new process finds the message
constexpr size_t kMaxLaunchMessage = 16 << 20;

const BRoster theRoster;

// The TryExec line of the desktop entry registered for the signature: the user's own
// registration first, then one installed with the system.
status_t registered_executable(const char* signature, std::string* executable) {
  for (const std::string& folder : data_folders()) {
    std::string tryExec;
    if (read_registered_entry(folder + "/applications/" + desktop_file_name(signature), signature, &tryExec) &&
        !tryExec.empty() && access(tryExec.c_str(), X_OK) == 0) {
      *executable = tryExec;
      return B_OK;
    }
  }
  return B_ENTRY_NOT_FOUND;
}

// An anonymous, unlinked memory file with the flattened message: nothing on disk, and no
// other process can open it.
int message_file(const BMessage& message) {
  int fd = memfd_create("tarnwickloft-launch", MFD_CLOEXEC);
  if (fd < 0) return -1;
  std::string bytes(size_t(message.FlattenedSize()), '\0');
  message.Flatten(bytes.data(), ssize_t(bytes.size()));
  if (write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()) || lseek(fd, 0, SEEK_SET) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

const BRoster* be_roster = &theRoster;

status_t BRoster::FindApp(const char* signature, std::string* executable) const {
  if (signature == nullptr || executable == nullptr) return B_BAD_VALUE;
  return registered_executable(signature, executable);
}

status_t BRoster::Launch(const char* signature, const BMessage* message, team_id* team) const {
  std::string executable;
  if (status_t status = FindApp(signature, &executable); status != B_OK) return status;
  return spawn_launch(executable.c_str(), message, team);
}

namespace {

// True for a desktop entry of this program, whatever its id: a registration carries its
// signature in a key of its own.
bool is_this_program(GAppInfo* app) {
  if (!G_IS_DESKTOP_APP_INFO(app)) return false;
  char* signature = g_desktop_app_info_get_string(G_DESKTOP_APP_INFO(app), "X-Tarnwickloft-Signature");
  bool ours = signature != nullptr;
  g_free(signature);
  return ours;
}

// The desktop's application for a type, passing over this program: it searches files, and
// opening a match or a folder in another search window is never what the user asked for.
GAppInfo* app_for_type(const char* type) {
  GAppInfo* app = g_app_info_get_default_for_type(type, FALSE);
  if (app == nullptr || !is_this_program(app)) return app;
  g_object_unref(app);
  app = nullptr;
  GList* all = g_app_info_get_all_for_type(type);
  for (GList* item = all; item != nullptr && app == nullptr; item = item->next)
    if (!is_this_program(G_APP_INFO(item->data))) app = G_APP_INFO(g_object_ref(item->data));
  g_list_free_full(all, g_object_unref);
  return app;
}

// How long the window waits for a launch. GIO announces each launch on the session bus, and
// its first connection to the bus waits without a bound when the bus does not answer (its
// daemon stopped or hung).
constexpr std::chrono::milliseconds kLaunchLimit{2000};

// Starts the application with the file, and lets go of the application. The launch runs on
// a thread of its own and is waited for at most kLaunchLimit: past that it goes on alone and
// B_TIMED_OUT is returned, so a caller's window never hangs on the bus.
status_t launch_with(GAppInfo* app, const char* path) {
  if (app == nullptr) return B_ENTRY_NOT_FOUND;
  std::packaged_task<bool()> launch([app, name = std::string(path)] {
    GFile* file = g_file_new_for_path(name.c_str());
    GList files = {file, nullptr, nullptr};
    bool started = g_app_info_launch(app, &files, nullptr, nullptr);
    g_object_unref(file);
    g_object_unref(app);
    return started;
  });
  std::future<bool> started = launch.get_future();
  std::thread(std::move(launch)).detach();
  if (started.wait_for(kLaunchLimit) != std::future_status::ready) return B_TIMED_OUT;
  return started.get() ? B_OK : B_ERROR;
}

}  // namespace

status_t open_with_default_app(const char* type, const char* path) {
  return launch_with(app_for_type(database_type_of(type).c_str()), path);
}

status_t BRoster::Launch(const entry_ref* ref, const BMessage* initialMessage, team_id* team) const {
  BEntry entry(ref);
  BPath path;
  if (entry.InitCheck() != B_OK || !entry.Exists() || entry.GetPath(&path) != B_OK)
    return B_ENTRY_NOT_FOUND;
  BNode node(&entry);
  BNodeInfo info(&node);
  char signature[B_MIME_TYPE_LENGTH], type[B_MIME_TYPE_LENGTH];
  std::string executable;
  if (info.GetPreferredApp(signature) == B_OK && FindApp(signature, &executable) == B_OK) {
    BMessage refs(B_REFS_RECEIVED);
    if (initialMessage != nullptr) refs = *initialMessage;
    refs.AddRef("refs", ref);
    return spawn_launch(executable.c_str(), &refs, team);
  }
  if (info.GetType(type) != B_OK) return B_ENTRY_NOT_FOUND;
  if (team != nullptr) *team = -1;
  return open_with_default_app(type, path.Path());
}

status_t BRoster::Launch(const char* mimeType, BList* messages, team_id* team) const {
  if (mimeType == nullptr || messages == nullptr) return B_BAD_VALUE;
  if (team != nullptr) *team = -1;
  status_t status = B_OK;
  for (int32 i = 0; i < messages->CountItems(); ++i) {
    auto* message = static_cast<const BMessage*>(messages->ItemAt(i));
    entry_ref ref;
    for (int32 r = 0; message->FindRef("refs", r, &ref) == B_OK; ++r) {
      BPath path(&ref);
      status_t opened = path.InitCheck() == B_OK ? open_with_default_app(mimeType, path.Path()) : path.InitCheck();
      if (opened != B_OK) status = opened;
    }
  }
  return status;
}

status_t spawn_launch(const char* executable, const BMessage* message, team_id* team) {
  if (executable == nullptr) return B_BAD_VALUE;
  int fd = message != nullptr ? message_file(*message) : -1;
  if (message != nullptr && fd < 0) return B_NO_MEMORY;
  status_t status = spawn_detached({executable}, fd, team);
  if (fd >= 0) close(fd);
  return status;
}

// Forks twice so that the program is not left as a child to wait for: the middle process
// exits at once and the program is adopted by init.
status_t spawn_detached(const std::vector<std::string>& argv, int inheritedFd, pid_t* started) {
  if (argv.empty()) return B_BAD_VALUE;
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e)
    if (strncmp(*e, kLaunchMessageVariable, strlen(kLaunchMessageVariable)) != 0) environment.push_back(*e);
  if (inheritedFd >= 0) environment.push_back(std::string(kLaunchMessageVariable) + "=" + std::to_string(kMessageFd));
  std::vector<char*> env;
  for (std::string& e : environment) env.push_back(e.data());
  env.push_back(nullptr);
  // The program's pid comes back through the pipe, then, if exec fails, its errno.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return status_from_errno();
  pid_t middle = fork();
  if (middle < 0) return status_from_errno();
  if (middle == 0) {
    close(report[0]);
    setsid();
    if (fork() != 0) _exit(0);
    pid_t self = getpid();
    (void)!write(report[1], &self, sizeof self);
    if (inheritedFd == kMessageFd) fcntl(kMessageFd, F_SETFD, 0);
    else if (inheritedFd >= 0 && dup2(inheritedFd, kMessageFd) < 0) _exit(127);
    execve(args[0], args.data(), env.data());
    int error = errno;
    (void)!write(report[1], &error, sizeof error);
    _exit(127);
  }
  close(report[1]);
  waitpid(middle, nullptr, 0);
  pid_t pid = -1;
  int error = 0;
  bool gotPid = read(report[0], &pid, sizeof pid) == sizeof pid;
  bool failed = read(report[0], &error, sizeof error) == sizeof error;
  close(report[0]);
  if (!gotPid) return B_ERROR;
  if (failed) return -error;
  if (started != nullptr) *started = pid;
  return B_OK;
}

status_t take_launch_message(BMessage* message) {
  const char* value = getenv(kLaunchMessageVariable);
  if (value == nullptr) return B_ENTRY_NOT_FOUND;
  int fd = -1;
  std::from_chars(value, value + strlen(value), fd);
  unsetenv(kLaunchMessageVariable);
  if (fd < 0) return B_BAD_VALUE;
  std::string bytes;
  char buffer[65536];
  ssize_t got;
  while (bytes.size() <= kMaxLaunchMessage && (got = read(fd, buffer, sizeof buffer)) > 0)
    bytes.append(buffer, size_t(got));
  close(fd);
  return message->Unflatten(bytes.data(), ssize_t(bytes.size()));
}

std::vector<DesktopApp> apps_for_type(const char* type) {
  std::vector<DesktopApp> apps;
  if (type == nullptr) return apps;
  std::string databaseType = database_type_of(type);
  GAppInfo* preferred = app_for_type(databaseType.c_str());
  GList* all = g_app_info_get_all_for_type(databaseType.c_str());
  auto add = [&apps](GAppInfo* app) {
    const char* id = g_app_info_get_id(app);
    if (id == nullptr || is_this_program(app)) return;
    for (const DesktopApp& known : apps)
      if (known.id == id) return;
    apps.push_back({id, g_app_info_get_display_name(app)});
  };
  if (preferred != nullptr) add(preferred);
  for (GList* item = all; item != nullptr; item = item->next) add(G_APP_INFO(item->data));
  g_list_free_full(all, g_object_unref);
  if (preferred != nullptr) g_object_unref(preferred);
  return apps;
}

status_t open_with_app(const char* appId, const char* path) {
  if (appId == nullptr || path == nullptr) return B_BAD_VALUE;
  return launch_with(G_APP_INFO(g_desktop_app_info_new(appId)), path);
}

namespace {

// Cancels a GIO operation once a time has passed, unless the operation ended first: a bus
// whose daemon is stopped accepts a connection and never answers it.
class CancelAfter {
 public:
  CancelAfter(GCancellable* cancellable, std::chrono::milliseconds after)
      : thread_([this, cancellable, after] {
          std::unique_lock<std::mutex> hold(lock_);
          if (!ended_.wait_for(hold, after, [this] { return over_; })) g_cancellable_cancel(cancellable);
        }) {}
  ~CancelAfter() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      over_ = true;
    }
    ended_.notify_one();
    thread_.join();
  }

 private:
  std::mutex lock_;
  std::condition_variable ended_;
  bool over_ = false;  // guarded by lock_
  std::thread thread_;  // last, so it starts once the members above exist
};

constexpr std::chrono::milliseconds kBusSetUpLimit{2000};
constexpr int kBusCallLimitMs = 3000;

// A connection of its own to the session bus, made within kBusSetUpLimit, or null.
GDBusConnection* connect_to_session_bus() {
  GCancellable* cancellable = g_cancellable_new();
  GDBusConnection* bus = nullptr;
  {
    CancelAfter limit(cancellable, kBusSetUpLimit);
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, cancellable, nullptr);
    if (address != nullptr)
      bus = g_dbus_connection_new_for_address_sync(
          address,
          GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                               G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
          nullptr, cancellable, nullptr);
    g_free(address);
  }
  g_object_unref(cancellable);
  return bus;
}

}  // namespace

status_t show_in_file_manager(const char* path) {
  if (path == nullptr) return B_BAD_VALUE;
  // A connection of its own, closed after the call: the shared one would end the program if
  // the bus went away. Setting it up and the call are each bounded in time.
  GDBusConnection* bus = connect_to_session_bus();
  if (bus != nullptr) {
    gchar* uri = g_filename_to_uri(path, nullptr, nullptr);
    const gchar* uris[] = {uri, nullptr};
    GVariant* reply = uri == nullptr ? nullptr
        : g_dbus_connection_call_sync(bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                      "org.freedesktop.FileManager1", "ShowItems",
                                      g_variant_new("(^ass)", uris, ""), nullptr, G_DBUS_CALL_FLAGS_NONE,
                                      kBusCallLimitMs, nullptr, nullptr);
    g_free(uri);
    g_dbus_connection_close(bus, nullptr, nullptr, nullptr);  // without waiting for the bus
    g_object_unref(bus);
    if (reply != nullptr) {
      g_variant_unref(reply);
      return B_OK;
    }
  }
  std::string folder(path);
  folder = folder.substr(0, std::max<size_t>(folder.rfind('/'), 1));
  return open_with_default_app("inode/directory", folder.c_str());
}

void show_in_file_manager_async(const char* path, std::function<void()> failed) {
  if (path == nullptr) return;
  try {
    std::thread([file = std::string(path), failed = std::move(failed)] {
      if (show_in_file_manager(file.c_str()) != B_OK && failed) failed();
    }).detach();
  } catch (const std::system_error&) {
    if (failed) failed();
  }
}
