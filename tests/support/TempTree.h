// A unique temporary folder per test, with helpers that make files (typed through the
// platform's SetType), folders and links in it, and a listing for failure messages.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::string& root() const { return root_; }
  // The absolute path of a path relative to the root.
  std::string path(const std::string& relative) const;

  // Makes a file (and its folders) with this content; a non-empty type is set with SetType.
  std::string file(const std::string& relative, const std::string& content,
                   const std::string& type = "text/plain") const;
  std::string folder(const std::string& relative) const;
  std::string link(const std::string& relative, const std::string& target) const;

  // Every entry below the root, one per line, for failure messages.
  std::string Listing() const;

 private:
  std::string root_;
};

// The whole content of a file, or "" when it cannot be read.
std::string read_file(const std::string& path);

// A pipe at path with a writer waiting for a reader to open it: whether the writer still waits
// tells whether anything opened the pipe. The writer is let go when the object goes.
class WaitingPipeWriter {
 public:
  explicit WaitingPipeWriter(const std::string& path);
  ~WaitingPipeWriter();
  WaitingPipeWriter(const WaitingPipeWriter&) = delete;
  WaitingPipeWriter& operator=(const WaitingPipeWriter&) = delete;
  // Whether a reader has opened the pipe, after a moment for the writer to notice.
  bool Released() const;

 private:
  std::string path_;
  std::atomic<bool> released_{false};
  std::thread writer_;
};

// Points HOME and the XDG folders at a fresh temporary folder for the life of the object,
// with XDG_DATA_DIRS starting at its "system" folder.
class TempHome {
 public:
  TempHome();
  ~TempHome();
  const std::string& home() const { return tree_.root(); }
  const TempTree& tree() const { return tree_; }

 private:
  TempTree tree_;
  std::string saved_[5];
  bool had_[5];
};

// Points XDG_DATA_DIRS at home's "system" folder before the system's own, as a folder where
// installed applications live.
void set_system_data_folder(const TempTree& home);
// Installs an application there, with a desktop entry only (no mimeapps.list names it), that
// handles the given types ("text/plain;inode/directory;") by appending the paths it is given
// to $HOME/opened.
void add_recorder(const TempTree& home, const std::string& name, const std::string& mimeTypes);

// Opens /dev/null into every free descriptor number below the highest one in use and returns
// the lowest number then free, N: a descriptor limit of N + n leaves exactly n to open.
// The caller closes the fillers.
int fill_descriptor_gaps(std::vector<int>* fillers);

// The types GetInstalledTypes lists for the supertype "text", in its order.
std::vector<std::string> installed_text_types();

// The real trees the walk is compared on (folders of this system with many untyped files of
// every kind), the type choices and the texts searched there.
inline constexpr const char* kRealFolders[] = {"/usr/share/doc", "/usr/include/linux", "/usr/lib/python3"};
inline constexpr const char* kRealTexts[] = {"xylophone-absent", "Copyright", "#!", "define"};
// Every text type, two, three, and none.
std::vector<std::vector<std::string>> real_tree_type_choices();
