#include "TextTypes.h"

#include <algorithm>
#include <fstream>
#include <unordered_map>
#include <unordered_set>

#include "AsciiFold.h"
#include "DesktopFiles.h"

namespace {

bool is_text(const std::string& type) { return type.compare(0, 5, "text/") == 0; }

using Pairs = std::vector<std::pair<std::string, std::string>>;

// The two-word lines of a file of every MIME database folder, the user's first, in lower case:
// "aliases" (alias, type), "subclasses" (type, parent).
Pairs read_pairs(const char* name) {
  Pairs pairs;
  for (const std::string& folder : data_folders()) {
    std::ifstream file(folder + "/mime/" + name);
    for (std::string line; std::getline(file, line);) {
      // Two words, split at a space (a stream per line costs more than the whole table).
      size_t end = line.find_first_of(" \t");
      size_t second = line.find_first_not_of(" \t", end);
      if (end == 0 || second == std::string::npos) continue;
      size_t secondEnd = line.find_first_of(" \t", second);
      pairs.emplace_back(ascii::folded(line.substr(0, end)), ascii::folded(line.substr(second, secondEnd - second)));
    }
  }
  return pairs;
}

// Every type of the database folders' "types" lists, in lower case, each once.
std::vector<std::string> read_types() {
  std::vector<std::string> types;
  std::unordered_set<std::string> seen;
  for (const std::string& folder : data_folders()) {
    std::ifstream file(folder + "/mime/types");
    for (std::string line; std::getline(file, line);) {
      std::string type = ascii::folded(std::move(line));
      if (!type.empty() && seen.insert(type).second) types.push_back(std::move(type));
    }
  }
  return types;
}

// Whether a type is textual: a text/ type, or one whose parents, through their own, reach one
// (every text/ type being a kind of text/plain). Parents are read by their canonical names.
bool is_textual(const std::string& type, const std::unordered_multimap<std::string, std::string>& parents,
                const std::unordered_map<std::string, std::string>& canonical, int depth = 0) {
  if (is_text(type)) return true;
  if (depth > 16) return false;  // a loop in the database
  auto [first, last] = parents.equal_range(type);
  for (auto parent = first; parent != last; ++parent) {
    auto named = canonical.find(parent->second);
    if (is_textual(named == canonical.end() ? parent->second : named->second, parents, canonical, depth + 1))
      return true;
  }
  return false;
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
    Pairs aliases = read_pairs("aliases");
    for (const auto& [alias, type] : aliases) canonical.emplace(alias, type);
    std::unordered_map<std::string, std::string> textAlias;  // canonical -> best text/ alias
    for (const auto& [alias, type] : aliases) {
      if (!is_text(alias)) continue;
      auto [it, added] = textAlias.emplace(type, alias);
      if (!added && better_name(alias, it->second)) it->second = alias;
    }
    std::unordered_multimap<std::string, std::string> parents;
    for (auto& [type, parent] : read_pairs("subclasses")) parents.emplace(std::move(type), std::move(parent));
    for (const std::string& type : read_types()) {
      if (!is_textual(type, parents, canonical)) continue;
      std::string name = type;
      if (!is_text(type)) {
        auto alias = textAlias.find(type);
        name = alias != textAlias.end() ? alias->second : "text/" + type.substr(type.find('/') + 1);
      }
      nameOf.emplace(type, name);
      names.push_back(name);
    }
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
