// Where the freedesktop conventions keep an application's registration.
#pragma once

#include <string>
#include <vector>

#include "SupportDefs.h"

// $XDG_DATA_HOME, else ~/.local/share; empty when neither can be found.
std::string user_data_folder();
// The desktop id of the application with a signature: "application/x-vnd.Name" gives the
// reverse-DNS id "org.name.Name"; another signature its subtype, slashes made dashes. The
// desktop entry, the icon, the AppStream file and the MIME package all take this id.
std::string desktop_id(const char* signature);
// The class in the WM_CLASS of the application's windows, which its desktop entries name as
// StartupWMClass so that docks and task bars pair the two.
constexpr char kWindowClass[] = "Tarnwickloft";
// The desktop entry file name for a signature: the desktop id and ".desktop".
std::string desktop_file_name(const char* signature);
// The folders where desktop entries and MIME packages are looked for, the user's first:
// $XDG_DATA_HOME, then each of $XDG_DATA_DIRS (default /usr/local/share:/usr/share).
std::vector<std::string> data_folders();
// A desktop-entry string value and back: the backslash escapes (\s \n \t \r \\). Values
// with control characters are refused before they get here, so escaping the backslash suffices.
std::string escape_entry_string(const std::string& value);
std::string unescape_entry_string(const std::string& value);
// Reads a desktop entry this program wrote for the signature (its X-Tarnwickloft-Signature
// line names it): true when it did, with the entry's TryExec program in tryExec when asked.
bool read_registered_entry(const std::string& path, const std::string& signature,
                           std::string* tryExec = nullptr);
// Writes the file only when its content differs, through a temporary file and a rename;
// changed tells whether it wrote.
status_t write_if_changed(const std::string& path, const std::string& content, bool* changed = nullptr);
