// libFuzzer target: BResources::SetTo on arbitrary files, read both as an ELF executable with
// a resource section and as a bare resource container.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "platform/File.h"
#include "platform/Resources.h"

namespace {

// The file each input is written to, removed when the fuzzer exits.
struct InputFile {
  std::string path = "/tmp/tarnwickloft-resource-fuzz-" + std::to_string(getpid());
  ~InputFile() { unlink(path.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const InputFile input;
  const std::string& path = input.path;
  FILE* out = fopen(path.c_str(), "wb");
  if (out == nullptr) return 0;
  fwrite(data, 1, size, out);
  fclose(out);
  BFile file(path.c_str(), B_READ_ONLY);
  BResources resources;
  if (resources.SetTo(&file) == B_OK) resources.FindResource(0, "W_Tarnwickloft", nullptr);
  resources.SetTo(reinterpret_cast<const char*>(data), size);
  return 0;
}
