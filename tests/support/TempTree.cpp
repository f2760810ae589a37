#include "TempTree.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/File.h"
#include "platform/Message.h"
#include "platform/MimeType.h"
#include "platform/NodeInfo.h"

namespace fs = std::filesystem;

extern char** environ;

TempTree::TempTree() {
  std::string pattern = (fs::temp_directory_path() / "tarnwickloft-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  root_ = fs::canonical(pattern).string();
}

// rm copes with trees deeper than a path can name, which some tests make.
TempTree::~TempTree() {
  pid_t pid;
  const char* argv[] = {"rm", "-rf", "--", root_.c_str(), nullptr};
  if (posix_spawnp(&pid, "rm", nullptr, nullptr, const_cast<char**>(argv), environ) == 0)
    waitpid(pid, nullptr, 0);
}

std::string TempTree::path(const std::string& relative) const { return root_ + "/" + relative; }

std::string TempTree::file(const std::string& relative, const std::string& content,
                           const std::string& type) const {
  std::string full = path(relative);
  fs::create_directories(fs::path(full).parent_path());
  std::ofstream(full, std::ios::binary) << content;
  if (!type.empty()) {
    BFile node(full.c_str(), B_READ_ONLY);
    BNodeInfo info(&node);
    EXPECT_EQ(info.SetType(type.c_str()), B_OK) << full;
  }
  return full;
}

std::string TempTree::folder(const std::string& relative) const {
  std::string full = path(relative);
  fs::create_directories(full);
  return full;
}

std::string TempTree::link(const std::string& relative, const std::string& target) const {
  std::string full = path(relative);
  fs::create_directories(fs::path(full).parent_path());
  fs::create_symlink(target, full);
  return full;
}

std::string TempTree::Listing() const {
  std::string listing = "tree " + root_ + ":\n";
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root_, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error))
    listing += "  " + it->path().lexically_relative(root_).string() + "\n";
  return listing;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

static const char* const kHomeVariables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                                             "XDG_DATA_DIRS", "XDG_CACHE_HOME"};
constexpr int kHomeVariableCount = 5;

TempHome::TempHome() {
  for (int i = 0; i < kHomeVariableCount; ++i) {
    const char* value = getenv(kHomeVariables[i]);
    had_[i] = value != nullptr;
    saved_[i] = value ? value : "";
  }
  setenv("HOME", tree_.root().c_str(), 1);
  setenv("XDG_CONFIG_HOME", tree_.path(".config").c_str(), 1);
  setenv("XDG_DATA_HOME", tree_.path(".local/share").c_str(), 1);
  setenv("XDG_CACHE_HOME", tree_.path(".cache").c_str(), 1);
  set_system_data_folder(tree_);
}

void set_system_data_folder(const TempTree& home) {
  setenv("XDG_DATA_DIRS", (home.path("system") + ":/usr/local/share:/usr/share").c_str(), 1);
}

void add_recorder(const TempTree& home, const std::string& name, const std::string& mimeTypes) {
  std::string script = home.file("system/" + name,
                                 "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"$HOME/opened\"\n", "");
  chmod(script.c_str(), 0755);
  home.file("system/applications/" + name + ".desktop",
            "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + script +
                " %F\nMimeType=" + mimeTypes + "\n", "");
  // GIO finds an application for a type through the folder's cache, which a package's
  // installation writes.
  std::string update = "update-desktop-database -q '" + home.path("system/applications") + "'";
  EXPECT_EQ(system(update.c_str()), 0);
}

TempHome::~TempHome() {
  for (int i = 0; i < kHomeVariableCount; ++i) {
    if (had_[i])
      setenv(kHomeVariables[i], saved_[i].c_str(), 1);
    else
      unsetenv(kHomeVariables[i]);
  }
}

int fill_descriptor_gaps(std::vector<int>* fillers) {
  int highest = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd"))
    highest = std::max(highest, std::stoi(entry.path().filename().string()));
  for (;;) {
    int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fd > highest) {
      if (fd >= 0) close(fd);
      return fd;
    }
    fillers->push_back(fd);
  }
}

std::vector<std::string> installed_text_types() {
  BMessage message;
  BMimeType::GetInstalledTypes("text", &message);
  std::vector<std::string> types;
  const char* type;
  for (int32 i = 0; message.FindString("types", i, &type) == B_OK; ++i) types.push_back(type);
  return types;
}

std::vector<std::vector<std::string>> real_tree_type_choices() {
  return {installed_text_types(), {"text/x-chdr", "text/x-c++hdr"}, {"text/plain", "text/x-sh", "text/html"}, {}};
}

WaitingPipeWriter::WaitingPipeWriter(const std::string& path) : path_(path) {
  EXPECT_EQ(mkfifo(path.c_str(), 0600), 0) << path;
  writer_ = std::thread([this] {
    int fd = open(path_.c_str(), O_WRONLY);  // waits for a reader
    released_ = true;
    if (fd >= 0) close(fd);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the writer is waiting by now
}

WaitingPipeWriter::~WaitingPipeWriter() {
  int reader = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
  writer_.join();
  if (reader >= 0) close(reader);
}

bool WaitingPipeWriter::Released() const {
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return released_.load();
}
