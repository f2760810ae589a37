#include "TextTypes.h"

#include <algorithm>
#include <deque>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "AsciiFold.h"
#include "MimeDatabase.h"

namespace {

using Pairs = std::vector<std::pair<std::string_view, std::string_view>>;

// The next word of a line, after any blanks; the line goes on after it. A plain loop: the
// library's find_first_of looks each byte up in the set with a call of its own.
std::string_view next_word(std::string_view* line) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  size_t start = 0;
  while (start < line->size() && blank((*line)[start])) ++start;
  size_t end = start;
  while (end < line->size() && !blank((*line)[end])) ++end;
  std::string_view word = line->substr(start, end - start);
  line->remove_prefix(end);
  return word;
}

bool is_text(std::string_view type) { return type.starts_with("text/"); }

// Whether a type is textual: a text/ type, or one whose parents, through their own, reach one
// (every text/ type being a kind of text/plain). Parents are read by their canonical names.
bool is_textual(std::string_view type, const std::unordered_multimap<std::string_view, std::string_view>& parents,
                const std::unordered_map<std::string_view, std::string_view>& canonical, int depth = 0) {
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
bool better_name(std::string_view a, std::string_view b) {
  bool ax = a.substr(5, 2) == "x-", bx = b.substr(5, 2) == "x-";
  if (ax != bx) return !ax;
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

// The table, built once per process. Its maps hold views of the database files, read whole and
// folded to lower case, and of the names made here: a start-up used to spend a millisecond
// copying every word into a string of its own.
class TextTable {
 public:
  std::unordered_map<std::string_view, std::string_view> nameOf;    // lower-case type or alias -> name
  std::unordered_map<std::string_view, std::string_view> canonical;  // lower-case alias -> canonical type
  std::vector<std::string> names;

  TextTable() {
    Pairs aliases = ReadPairs("aliases");
    for (const auto& [alias, type] : aliases) canonical.emplace(alias, type);
    std::unordered_map<std::string_view, std::string_view> textAlias;  // canonical -> best text/ alias
    for (const auto& [alias, type] : aliases) {
      if (!is_text(alias)) continue;
      auto [it, added] = textAlias.emplace(type, alias);
      if (!added && better_name(alias, it->second)) it->second = alias;
    }
    std::unordered_multimap<std::string_view, std::string_view> parents;
    for (const auto& [type, parent] : ReadPairs("subclasses")) parents.emplace(type, parent);
    for (std::string_view type : ReadTypes()) {
      if (!is_textual(type, parents, canonical)) continue;
      std::string_view name = type;
      if (!is_text(type)) {
        auto alias = textAlias.find(type);
        name = alias != textAlias.end() ? alias->second : Keep("text/" + std::string(type.substr(type.find('/') + 1)));
      }
      nameOf.emplace(type, name);
      names.emplace_back(name);
    }
    // An alias reads as its type does.
    for (const auto& [alias, type] : aliases) {
      auto name = nameOf.find(type);
      if (name != nameOf.end()) nameOf.emplace(alias, name->second);
    }
    // A given name also stands for the type it names.
    for (const auto& [type, name] : Pairs(nameOf.begin(), nameOf.end()))
      if (name != type) canonical.emplace(name, type);
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
  }
  TextTable(const TextTable&) = delete;
  TextTable& operator=(const TextTable&) = delete;

 private:
  // Text the maps' views point into; a deque, whose strings never move.
  std::deque<std::string> kept_;

  std::string_view Keep(std::string text) { return kept_.emplace_back(std::move(text)); }

  // Calls visit with each line of a file of every MIME database folder, the user's first, in
  // lower case: the folders the type guesses read, so that the two agree.
  template <typename Visit>
  void ForEachLine(const char* name, Visit visit) {
    for (const std::string& folder : mime_database_folders()) {
      std::string bytes;
      if (!read_database_file(folder + "/" + name, &bytes)) continue;
      std::string_view rest = Keep(ascii::folded(std::move(bytes)));
      while (!rest.empty()) {
        size_t end = std::min(rest.find('\n'), rest.size());
        visit(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
      }
    }
  }

  // The two-word lines of "aliases" (alias, type) or "subclasses" (type, parent). A line that
  // starts with a blank has no first word and is passed over.
  Pairs ReadPairs(const char* name) {
    Pairs pairs;
    ForEachLine(name, [&](std::string_view line) {
      if (line.empty() || line[0] == ' ' || line[0] == '\t') return;
      std::string_view first = next_word(&line), second = next_word(&line);
      if (!second.empty()) pairs.emplace_back(first, second);
    });
    return pairs;
  }

  // Every type of the "types" lists, each once.
  std::vector<std::string_view> ReadTypes() {
    std::vector<std::string_view> types;
    std::unordered_set<std::string_view> seen;
    ForEachLine("types", [&](std::string_view type) {
      if (!type.empty() && seen.insert(type).second) types.push_back(type);
    });
    return types;
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
  auto found = names.find(std::string_view(ascii::folded(type)));
  return found == names.end() ? std::string(type) : std::string(found->second);
}

const std::vector<std::string>& text_type_names() { return table().names; }

std::string database_type_of(const char* type) {
  if (type == nullptr) return "";
  const auto& canonical = table().canonical;
  auto found = canonical.find(std::string_view(ascii::folded(type)));
  return found == canonical.end() ? std::string(type) : std::string(found->second);
}

bool same_mime_type(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return false;
  return ascii::casecmp(a, b) == 0 ||
         ascii::casecmp(database_type_of(a).c_str(), database_type_of(b).c_str()) == 0;
}
