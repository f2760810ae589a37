// libFuzzer target: BMessage::Unflatten on arbitrary bytes, as a saved-search file or a window
// archive would be read. Whatever it accepts must flatten to bytes that read back to the same
// message, and must read as a saved-search record without harm.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/Message.h"
#include "saved/SavedSearch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BMessage message;
  if (message.Unflatten(reinterpret_cast<const char*>(data), ssize_t(size)) != B_OK) return 0;
  std::string bytes(size_t(message.FlattenedSize()), '\0');
  if (message.Flatten(bytes.data(), ssize_t(bytes.size())) != B_OK) abort();
  BMessage again;
  if (again.Unflatten(bytes.data(), ssize_t(bytes.size())) != B_OK) abort();
  if (again.FlattenedSize() != message.FlattenedSize() || again.what != message.what) abort();
  SearchState state = read_record_fields(message);
  BMessage record(kRecordCode);
  add_record_fields(state, &record);
  return 0;
}
