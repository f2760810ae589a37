#include "TempTree.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/File.h"
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

static const char* const kHomeVariables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"};

TempHome::TempHome() {
  for (int i = 0; i < 3; ++i) {
    const char* value = getenv(kHomeVariables[i]);
    had_[i] = value != nullptr;
    saved_[i] = value ? value : "";
  }
  setenv("HOME", tree_.root().c_str(), 1);
  setenv("XDG_CONFIG_HOME", tree_.path(".config").c_str(), 1);
  setenv("XDG_DATA_HOME", tree_.path(".local/share").c_str(), 1);
}

TempHome::~TempHome() {
  for (int i = 0; i < 3; ++i) {
    if (had_[i])
      setenv(kHomeVariables[i], saved_[i].c_str(), 1);
    else
      unsetenv(kHomeVariables[i]);
  }
}
