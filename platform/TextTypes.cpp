#include "TextTypes.h"

#include <algorithm>
#include <fstream>
#include <gio/gio.h>
#include <sstream>
#include <unordered_map>

#include "AsciiFold.h"
#include "DesktopFiles.h"

namespace {

bool is_text(const std::string& type) { return type.compare(0, 5, "text/") == 0; }

// The alias lines ("alias canonical") of every MIME database folder, the user's first.
std::vector<std::pair<std::string, std::string>> read_aliases() {
  std::vector<std::pair<std::string, std::string>> aliases;
  for (const std::string& folder : data_folders()) {
    std::ifstream file(folder + "/mime/aliases");
    std::string alias, canonical;
    for (std::string line; std::getline(file, line);) {
      std::istringstream words(line);
      if (words >> alias >> canonical) aliases.emplace_back(ascii::folded(alias), ascii::folded(canonical));
    }
  }
  return aliases;
}

// Standard names before "x-" ones, then shorter, then in order.
bool better_name(const std::string& a, const std::string& b) {
  bool ax = a.compare(5, 2, "x-") == 0, bx = b.compare(5, 2, "x-") == 0;
  if (ax != bx) return !ax;
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

struct TextTable {
  std::unordered_map<std::string, std::string> nameOf;    // lower-case type or alias -> name
  std::unordered_map<std::string, std::string> canonical;  // lower-case alias -> canonical type
  std::vector<std::string> names;

  TextTable() {
    auto aliases = read_aliases();
    for (const auto& [alias, type] : aliases) canonical.emplace(alias, type);
    std::unordered_map<std::string, std::string> textAlias;  // canonical -> best text/ alias
    for (const auto& [alias, type] : aliases) {
      if (!is_text(alias)) continue;
      auto [it, added] = textAlias.emplace(type, alias);
      if (!added && better_name(alias, it->second)) it->second = alias;
    }
    GList* registered = g_content_types_get_registered();
    for (GList* item = registered; item != nullptr; item = item->next) {
      std::string type = ascii::folded(static_cast<const char*>(item->data));
      if (!is_text(type) && !g_content_type_is_a(type.c_str(), "text/plain")) continue;
      std::string name = type;
      if (!is_text(type)) {
        auto alias = textAlias.find(type);
        name = alias != textAlias.end() ? alias->second : "text/" + type.substr(type.find('/') + 1);
      }
      nameOf.emplace(type, name);
      names.push_back(name);
    }
    g_list_free_full(registered, g_free);
    // An alias reads as its type does.
    for (const auto& [alias, type] : aliases) {
      auto name = nameOf.find(type);
      if (name != nameOf.end()) nameOf.emplace(alias, name->second);
    }
    // A given name also stands for the type it names.
    for (const auto& [type, name] : std::vector<std::pair<std::string, std::string>>(nameOf.begin(), nameOf.end()))
      if (name != type) canonical.emplace(name, type);
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
  }
};

const TextTable& table() {
  static const TextTable built;
  return built;
}

}  // namespace

std::string text_name_of(const char* type) {
  if (type == nullptr) return "";
  const auto& names = table().nameOf;
  auto found = names.find(ascii::folded(type));
  return found == names.end() ? std::string(type) : found->second;
}

const std::vector<std::string>& text_type_names() { return table().names; }

std::string database_type_of(const char* type) {
  if (type == nullptr) return "";
  const auto& canonical = table().canonical;
  auto found = canonical.find(ascii::folded(type));
  return found == canonical.end() ? std::string(type) : found->second;
}

bool same_mime_type(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return false;
  return ascii::casecmp(a, b) == 0 ||
         ascii::casecmp(database_type_of(a).c_str(), database_type_of(b).c_str()) == 0;
}
