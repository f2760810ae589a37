// Well-known folders of the user, after the freedesktop base-directory conventions.
#pragma once

#include "SupportDefs.h"

class BPath;

enum directory_which {
  // $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
  B_USER_SETTINGS_DIRECTORY,
  // $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
  B_USER_DATA_DIRECTORY,
  // The home folder: $HOME when it is an absolute path, else the account's.
  B_USER_DIRECTORY,
  // $XDG_CACHE_HOME when it is an absolute path, else ~/.cache.
  B_USER_CACHE_DIRECTORY,
};

#include <string>

// Makes a folder and the folders above it that are missing.
status_t create_folders(const std::string& path, mode_t mode = 0700);

// createIt makes the folder (and its parents) when it is missing.
status_t find_directory(directory_which which, BPath* path, bool createIt = false);
