// An application's registration with the desktop: its launch flags, signature and supported
// types. The old kit wrote these into the executable itself; Linux cannot open a running
// executable for writing, so they go where the freedesktop conventions look:
//  - a desktop entry, $XDG_DATA_HOME/applications/<desktop id>.desktop, whose Exec line
//    hands the files the desktop opens to the launch protocol (they arrive as
//    B_REFS_RECEIVED) and whose MimeType line lists the application's own document types
//    only, so that it never becomes the default opener of text files or folders;
//  - a shared-mime-info package, $XDG_DATA_HOME/mime/packages/<desktop id>.xml, that
//    defines the supported types the database does not know, recognised by the flattened
//    message header, so a file that lost its type attribute is still known by its content;
//  - scripts for the file managers that run user scripts with the selection (Nautilus, Nemo,
//    Caja), when the file-manager host is installed beside the executable.
// A file is rewritten only when its content changes; the database tools run when present.
// An executable whose path holds control characters is not registered at all. An installed
// program (PREFIX/bin, with its entry and package under PREFIX/share) writes only the
// file-manager scripts. Helpers are looked for beside the executable, then in
// PREFIX/libexec/tarnwickloft.
#pragma once

#include <string>
#include <vector>

#include "SupportDefs.h"

class BFile;
class BMessage;

enum : uint32 { B_SINGLE_LAUNCH = 0, B_MULTIPLE_LAUNCH = 1, B_EXCLUSIVE_LAUNCH = 2 };

// Programs installed beside the executable that registration refers to.
constexpr const char* kOpenHelper = "tarnwickloft-open";
constexpr const char* kFileManagerHost = "tarnwickloft-filemanager";

class BAppFileInfo {
 public:
  // The file is the application's executable, opened in any mode.
  explicit BAppFileInfo(BFile* file);
  status_t InitCheck() const { return status_; }

  // Every launch starts a new process on Linux; the flags are recorded in the entry.
  status_t SetAppFlags(uint32 flags);
  status_t SetSignature(const char* signature);
  // A message with the string field "types": a supertype ("text") stands for its installed
  // types; "application/x-vnd.Be-directory" for folders.
  status_t SetSupportedTypes(const BMessage* types);

  // The files registration writes, for a signature, under the user's data folder.
  static std::string DesktopEntryPath(const char* signature);
  static std::string MimePackagePath(const char* signature);

 private:
  status_t Register();
  // True when the executable is PREFIX/bin/NAME and PREFIX/share holds its desktop entry
  // and MIME package, as a package installs them.
  bool IsInstalled() const;
  void RemoveUserCopies(const std::string& dataFolder) const;
  std::string DesktopEntry() const;
  std::string MimePackage() const;
  std::vector<std::string> DesktopTypes() const;
  // A type of the application's own documents, "<super>/x-<Name>".
  bool IsOwnType(const std::string& type) const;
  void WriteFileManagerScripts(const std::string& dataFolder) const;

  status_t status_;
  std::string executable_;
  std::string signature_;
  uint32 flags_ = B_MULTIPLE_LAUNCH;
  std::vector<std::string> types_;
};
