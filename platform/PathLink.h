// Where a folder lies, as a chain of names up to a folder whose absolute path is known.
// Folders of one walk share their ancestors' links, and refs share their folder's link, so a
// deep tree costs memory per folder, not per folder times depth; a path string is built only
// when it is asked for.
#pragma once

#include <memory>
#include <string>

struct PathLink {
  PathLink() = default;
  PathLink(std::shared_ptr<const PathLink> parentLink, std::string leaf)
      : parent(std::move(parentLink)), name(std::move(leaf)) {}
  PathLink(const PathLink&) = delete;
  PathLink& operator=(const PathLink&) = delete;
  // Lets go of a long chain one link at a time rather than by recursion.
  ~PathLink();

  // A root link for an absolute path.
  static std::shared_ptr<const PathLink> Root(std::string path);

  std::shared_ptr<const PathLink> parent;  // null for a root
  std::string name;                        // the leaf name, or the absolute path of a root
  std::string Path() const;
};
