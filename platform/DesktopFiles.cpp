#include "DesktopFiles.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "FindDirectory.h"
#include "Path.h"
#include "ReplaceFile.h"

std::string user_data_folder() {
  BPath path;
  return find_directory(B_USER_DATA_DIRECTORY, &path) == B_OK ? path.Path() : "";
}

std::string desktop_id(const char* signature) {
  std::string name = signature ? signature : "";
  size_t slash = name.find('/');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  if (name.compare(0, 6, "x-vnd.") == 0 && name.size() > 6 && name.find('.', 6) == std::string::npos) {
    std::string lower = name.substr(6);
    for (char& c : lower) c = char(tolower(static_cast<unsigned char>(c)));
    std::string shown = lower;
    shown[0] = char(toupper(static_cast<unsigned char>(shown[0])));
    return "org." + lower + "." + shown;
  }
  for (char& c : name)
    if (c == '/') c = '-';
  return name;
}

std::string desktop_file_name(const char* signature) { return desktop_id(signature) + ".desktop"; }

std::vector<std::string> data_folders() {
  std::vector<std::string> folders;
  if (std::string user = user_data_folder(); !user.empty()) folders.push_back(user);
  const char* system = getenv("XDG_DATA_DIRS");
  std::stringstream list(system != nullptr && *system != '\0' ? system : "/usr/local/share:/usr/share");
  for (std::string folder; std::getline(list, folder, ':');)
    if (!folder.empty()) folders.push_back(folder);
  return folders;
}

std::string escape_entry_string(const std::string& value) {
  std::string escaped;
  for (char c : value) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return escaped;
}

std::string unescape_entry_string(const std::string& value) {
  std::string plain;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      plain += value[i];
      continue;
    }
    char next = value[++i];
    plain += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
  }
  return plain;
}

bool read_registered_entry(const std::string& path, const std::string& signature, std::string* tryExec) {
  std::ifstream entry(path);
  std::string wanted = "X-Tarnwickloft-Signature=" + signature;
  bool ours = false;
  for (std::string line; std::getline(entry, line);) {
    if (line == wanted) ours = true;
    if (tryExec != nullptr && line.rfind("TryExec=", 0) == 0) *tryExec = unescape_entry_string(line.substr(8));
  }
  return ours;
}

status_t write_if_changed(const std::string& path, const std::string& content, bool* changed) {
  if (changed != nullptr) *changed = false;
  std::ifstream in(path, std::ios::binary);
  if (in) {
    std::stringstream old;
    old << in.rdbuf();
    if (old.str() == content) return B_OK;
  }
  if (status_t status = replace_file(path, content); status != B_OK) return status;
  if (changed != nullptr) *changed = true;
  return B_OK;
}
