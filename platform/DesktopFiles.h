// Where the freedesktop conventions keep an application's registration.
#pragma once

#include <string>

#include "SupportDefs.h"

// $XDG_DATA_HOME, else ~/.local/share; empty when neither can be found.
std::string user_data_folder();
// The desktop entry file name for a signature: "application/x-vnd.Name" -> "x-vnd.Name.desktop".
std::string desktop_file_name(const char* signature);
// Writes the file only when its content differs, through a temporary file and a rename;
// changed tells whether it wrote.
status_t write_if_changed(const std::string& path, const std::string& content, bool* changed = nullptr);
