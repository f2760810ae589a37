// Starting applications. On Linux an application is found by its signature through the
// desktop entry that its registration wrote (BAppFileInfo), and a message for the new
// instance travels in an anonymous memory file that only the new process inherits.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "SupportDefs.h"

class BList;
class BMessage;
struct entry_ref;

typedef pid_t team_id;

// The environment variable that names the inherited descriptor holding the message.
constexpr const char* kLaunchMessageVariable = "TARNWICKLOFT_LAUNCH_FD";

class BRoster {
 public:
  // Starts a new instance of the application registered for the signature, without a shell
  // and without arguments; it receives the message once its loop runs. The new process is not
// this one's child; team receives its pid.
  status_t Launch(const char* signature, const BMessage* message = nullptr,
                  team_id* team = nullptr) const;
  // Opens a file: with a new instance of the application its own preferred-application
  // attribute names, when that application is registered (it receives B_REFS_RECEIVED);
  // otherwise with the desktop's default application for the type GetType reads, started
  // through GIO with the file's absolute path, never through a shell and never by an opener
  // that guesses the type again. Fails when the file does not exist, has no type, no
  // application handles the type, or the start fails.
  status_t Launch(const entry_ref* ref, const BMessage* initialMessage = nullptr,
                  team_id* team = nullptr) const;
  // Opens the files in the "refs" of each message with the desktop's default application for
  // the MIME type.
  status_t Launch(const char* mimeType, BList* messages, team_id* team = nullptr) const;
  // The executable registered for a signature.
  status_t FindApp(const char* signature, std::string* executable) const;
};

extern const BRoster* be_roster;

// Starts a new instance of an executable that receives the message once its loop runs.
status_t spawn_launch(const char* executable, const BMessage* message, team_id* team = nullptr);

// Opens a file or folder with the desktop's default application for a MIME type.
status_t open_with_default_app(const char* type, const char* path);

// Reads the message a launch handed to this process, if any, and forgets the descriptor;
// B_ENTRY_NOT_FOUND when the process was not started with one.
status_t take_launch_message(BMessage* message);

// An application the desktop offers for a type: its desktop id and the name it shows.
struct DesktopApp {
  std::string id;
  std::string name;
};
// The applications registered for a type (a text/ name is asked as the database's own type),
// the desktop's default first and this program left out.
std::vector<DesktopApp> apps_for_type(const char* type);
// Opens the file with the application of that desktop id.
status_t open_with_app(const char* appId, const char* path);
// Shows the file selected in the desktop's file manager, through the freedesktop
// org.freedesktop.FileManager1.ShowItems call on the session bus; where no file manager
// answers it, opens the file's folder with the default application for folders. Waits for
// the bus (up to a few seconds when it does not answer).
status_t show_in_file_manager(const char* path);
// The same on a thread of its own, returning at once: a window's thread never waits on the
// bus. `failed` is called on that thread when neither way worked.
void show_in_file_manager_async(const char* path, std::function<void()> failed);

// Starts a program without a shell: argv[0] is run as given, and no argument is ever taken
// for an option of anything but that program. The child is not waited for.
status_t spawn_detached(const std::vector<std::string>& argv, int inheritedFd = -1,
                        pid_t* started = nullptr);
