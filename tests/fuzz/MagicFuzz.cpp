// The MIME database cache read from any bytes, its content rules and its name patterns: never
// a read outside them, and a bounded cost for every head and name tried against them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "platform/ContentHint.h"
#include "platform/NamePatterns.h"

namespace {

bool every_type(const char*, const void*) { return true; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto bytes = std::make_shared<const std::string>(reinterpret_cast<const char*>(data), size);
  if (auto patterns = NamePatterns::FromCaches({bytes, bytes})) {
    const char* types[NamePatterns::kMostTypes];
    for (const char* name : {"x.c", "Makefile", "README.TXT", "a", "\xc3\xa9.tar.gz", "core"}) patterns->TypesOf(name, types);
  }
  std::unique_ptr<MagicRules> rules = MagicRules::FromCache(bytes, every_type, nullptr);
  if (rules == nullptr) return 0;
  static const std::string heads[] = {"", "FUZZA and more", std::string(4096, 'A'), "\x7f" "ELF\x02\x01",
                                      "<!DOCTYPE html><html>"};
  for (const std::string& head : heads) {
    rules->Match(reinterpret_cast<const uint8_t*>(head.data()), head.size());
    const char* type;
    uint32_t priority;
    if (rules->FirstMatch(reinterpret_cast<const uint8_t*>(head.data()), head.size(), &type, &priority) && type != nullptr)
      (void)strlen(type);  // a type found is a string inside the bytes
  }
  return 0;
}
