// Resources: typed, named blobs of bytes carried inside a file, above all the application's
// own executable, where they live in an ELF section of their own.
#pragma once

#include <string>
#include <vector>

#include "SupportDefs.h"

class BFile;

// The section of an executable that holds its resources. It is added after linking with
//   objcopy --add-section .tarnwickloft.rsrc=FILE --set-section-flags .tarnwickloft.rsrc=noload,readonly
// and, unlike data appended after the end of the file, it survives strip.
constexpr const char* kResourceSection = ".tarnwickloft.rsrc";

class BResources {
 public:
  BResources();
  // Reads the resources of a file: an ELF executable with the resource section, or a bare
  // resource container. This platform's resources are read only, so clobber is not used:
  // a running executable cannot be opened for writing on Linux.
  status_t SetTo(BFile* file, bool clobber = false);
  // Parses a resource container held in memory.
  status_t SetTo(const char* bytes, size_t size);

  // The bytes of the resource with this type and name, or null; they stay valid while the
  // object lives and is not set to something else.
  const void* FindResource(type_code type, const char* name, size_t* size) const;
  int32 CountResources() const { return int32(entries_.size()); }

  // The container format, for the tool that writes it.
  struct Entry {
    type_code type;
    int32 id;
    std::string name;
    std::string data;
  };
  static std::string Flatten(const std::vector<Entry>& entries);

 private:
  std::vector<Entry> entries_;
};
