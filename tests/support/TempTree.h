// A unique temporary folder per test, with helpers that make files (typed through the
// platform's SetType), folders and links in it, and a listing for failure messages.
#pragma once

#include <string>

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

// Points HOME and the XDG folders at a fresh temporary folder for the life of the object.
class TempHome {
 public:
  TempHome();
  ~TempHome();
  const std::string& home() const { return tree_.root(); }

 private:
  TempTree tree_;
  std::string saved_[3];
  bool had_[3];
};
