// The window archive "W_Tarnwickloft" from the resources of an executable: the application's
// own at start, and the running executable's for the programs beside it that build the same
// window (tests, tools, benchmarks).
#pragma once

#include "platform/Message.h"
#include "platform/Resources.h"

class BFile;

constexpr type_code kArchiveType = four_cc("ARCV");
constexpr const char* kArchiveName = "W_Tarnwickloft";

// Reads the archive step by step, for a caller that reports each step.
class WindowArchiveReader {
 public:
  status_t ReadResources(BFile& image) { return resources_.SetTo(&image); }
  // B_NAME_NOT_FOUND when the resources hold no window archive.
  status_t FindArchive();
  status_t Unflatten(BMessage* archive) const;

 private:
  BResources resources_;
  const void* bytes_ = nullptr;
  size_t size_ = 0;
};

// All the steps, from the running executable.
status_t own_window_archive(BMessage* archive);
