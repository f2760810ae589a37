// libFuzzer target: BMessage::Unflatten on arbitrary bytes. Whatever it accepts must flatten
// to bytes that read back to the same message.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/Message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BMessage message;
  if (message.Unflatten(reinterpret_cast<const char*>(data), ssize_t(size)) != B_OK) return 0;
  std::string bytes(size_t(message.FlattenedSize()), '\0');
  if (message.Flatten(bytes.data(), ssize_t(bytes.size())) != B_OK) abort();
  BMessage again;
  if (again.Unflatten(bytes.data(), ssize_t(bytes.size())) != B_OK) abort();
  if (again.FlattenedSize() != message.FlattenedSize() || again.what != message.what) abort();
  return 0;
}
