#include "SavedSearchList.h"

#include <utility>

#include "saved/SavedSearch.h"

std::string SavedSearchList::KeyOf(const entry_ref& ref) {
  return std::to_string(ref.device) + ":" + std::to_string(ref.directory) + ":" + (ref.name ? ref.name : "");
}

void SavedSearchList::Relist(const std::string& folder) {
  std::vector<entry_ref> listed = list_saved_searches(folder.c_str());
  std::lock_guard<std::mutex> hold(guard_);
  std::unordered_set<std::string> keys;
  for (entry_ref& ref : listed) {
    std::string key = KeyOf(ref);
    // Two links to one file are one item.
    if (keys.insert(key).second && keys_.count(key) == 0) changes_.added.push_back(std::move(ref));
  }
  for (const std::string& key : keys_)
    if (keys.count(key) == 0) changes_.removed.push_back(key);
  keys_ = std::move(keys);
}

SavedSearchList::Changes SavedSearchList::Take() {
  std::lock_guard<std::mutex> hold(guard_);
  return std::exchange(changes_, {});
}
