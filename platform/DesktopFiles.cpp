#include "DesktopFiles.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "FindDirectory.h"
#include "Path.h"

std::string user_data_folder() {
  BPath path;
  return find_directory(B_USER_DATA_DIRECTORY, &path) == B_OK ? path.Path() : "";
}

std::string desktop_file_name(const char* signature) {
  std::string name = signature ? signature : "";
  size_t slash = name.find('/');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  for (char& c : name)
    if (c == '/') c = '-';
  return name + ".desktop";
}

status_t write_if_changed(const std::string& path, const std::string& content, bool* changed) {
  if (changed != nullptr) *changed = false;
  std::ifstream in(path, std::ios::binary);
  if (in) {
    std::stringstream old;
    old << in.rdbuf();
    if (old.str() == content) return B_OK;
  }
  std::string temporary = path + ".new-" + std::to_string(getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) {
      unlink(temporary.c_str());
      return B_FILE_ERROR;
    }
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    status_t status = status_from_errno();
    unlink(temporary.c_str());
    return status;
  }
  if (changed != nullptr) *changed = true;
  return B_OK;
}
