#include "GioOnDemand.h"

#include <dlfcn.h>
#include <gio/gio.h>
#include <mutex>

namespace gio_on_demand {
namespace {

// The calls used, typed from GIO's own declarations; all null when the library is missing.
struct Calls {
  decltype(&g_content_type_guess) guess = nullptr;
  decltype(&g_content_types_get_registered) registered = nullptr;
  decltype(&g_list_free_full) freeList = nullptr;
  decltype(&g_free) free = nullptr;
};

const Calls& calls() {
  static Calls loaded;
  static std::once_flag once;
  std::call_once(once, [] {
    // Kept for the life of the process, as a linked library would be.
    void* gio = dlopen("libgio-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (gio == nullptr) return;
    Calls found;
    found.guess = reinterpret_cast<decltype(found.guess)>(dlsym(gio, "g_content_type_guess"));
    found.registered = reinterpret_cast<decltype(found.registered)>(dlsym(gio, "g_content_types_get_registered"));
    found.freeList = reinterpret_cast<decltype(found.freeList)>(dlsym(gio, "g_list_free_full"));
    found.free = reinterpret_cast<decltype(found.free)>(dlsym(gio, "g_free"));
    if (found.guess && found.registered && found.freeList && found.free) loaded = found;
  });
  return loaded;
}

}  // namespace

std::optional<std::string> content_type_guess(const char* name, const unsigned char* data, size_t size,
                                              bool* uncertain) {
  const Calls& gio = calls();
  *uncertain = true;
  if (gio.guess == nullptr) return std::nullopt;
  gboolean unsure = TRUE;
  gchar* guess = gio.guess(name, data, data == nullptr ? 0 : size, &unsure);
  *uncertain = unsure;
  if (guess == nullptr) return std::nullopt;
  std::string type(guess);
  gio.free(guess);
  return type;
}

std::vector<std::string> registered_types() {
  const Calls& gio = calls();
  std::vector<std::string> types;
  if (gio.registered == nullptr) return types;
  GList* registered = gio.registered();
  for (GList* item = registered; item != nullptr; item = item->next) types.emplace_back(static_cast<const char*>(item->data));
  gio.freeList(registered, gio.free);
  return types;
}

}  // namespace gio_on_demand
