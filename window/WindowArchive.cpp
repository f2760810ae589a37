#include "WindowArchive.h"

#include "platform/File.h"
#include "platform/Resources.h"

status_t own_window_archive(BMessage* archive) {
  BFile self("/proc/self/exe", B_READ_ONLY);
  BResources resources;
  if (status_t status = resources.SetTo(&self); status != B_OK) return status;
  size_t size = 0;
  const void* bytes = resources.FindResource(kArchiveType, kArchiveName, &size);
  if (bytes == nullptr) return B_NAME_NOT_FOUND;
  return archive->Unflatten(static_cast<const char*>(bytes), ssize_t(size));
}
