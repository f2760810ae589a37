#include "WindowArchive.h"

#include "platform/File.h"
#include "platform/Process.h"

status_t WindowArchiveReader::FindArchive() {
  bytes_ = resources_.FindResource(kArchiveType, kArchiveName, &size_);
  return bytes_ != nullptr ? B_OK : B_NAME_NOT_FOUND;
}

status_t WindowArchiveReader::Unflatten(BMessage* archive) const {
  if (bytes_ == nullptr) return B_NO_INIT;
  return archive->Unflatten(static_cast<const char*>(bytes_), ssize_t(size_));
}

status_t own_window_archive(BMessage* archive) {
  BFile self(running_executable().c_str(), B_READ_ONLY);
  WindowArchiveReader reader;
  status_t status = reader.ReadResources(self);
  if (status == B_OK) status = reader.FindArchive();
  return status == B_OK ? reader.Unflatten(archive) : status;
}
