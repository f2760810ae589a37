#include "TypeListSearch.h"

#include <algorithm>
#include <string>
#include <sys/stat.h>
#include <unordered_map>
#include <vector>

#include "platform/AsciiFold.h"
#include "platform/File.h"
#include "platform/NodeInfo.h"
#include "platform/interface/MenuItem.h"
#include "search/BlockScanner.h"
#include "search/Engine.h"

namespace {

// The rotation of a type list, replayed from the types a search accepted in walk order: the
// same answers and the same rotation as f_check_MIME, but the type is looked up in a table of
// the labels made when the search starts instead of being compared with each label in turn
// (hundreds, with every text type chosen).
class TypeFilter {
 public:
  explicit TypeFilter(BList& types) : types_(types) {
    for (int32 i = 0; i < types.CountItems(); ++i) {
      auto* item = static_cast<BMenuItem*>(types.ItemAt(i));
      byLabel_[ascii::folded(item->Label())].push_back(item);
    }
  }
  std::vector<std::string> Labels() const {
    std::vector<std::string> labels;
    for (const auto& [label, items] : byLabel_) labels.push_back(label);
    return labels;
  }
  bool Check(const char* type) {
    int32 index = Find(type);
    if (index >= 0) types_.RotateToFront(index);
    return index >= 0;
  }
  // Whether an accepted type can change the list's order at all.
  bool MayReorder() const { return types_.CountItems() > 1; }
  bool HasLabelsEqualIgnoringCase() const {
    return std::any_of(byLabel_.begin(), byLabel_.end(), [](const auto& label) { return label.second.size() > 1; });
  }

 private:
  // Where the type stands in the list, -1 when it is not there.
  int32 Find(const char* type) {
    auto found = byLabel_.find(ascii::folded(type));
    if (found == byLabel_.end()) return -1;
    const std::vector<BMenuItem*>& items = found->second;
    if (items.size() == 1) return types_.IndexOf(items[0]);
    // Labels that differ only in case: the first in the list's present order.
    for (int32 i = 0; i < types_.CountItems(); ++i)
      if (std::find(items.begin(), items.end(), types_.ItemAt(i)) != items.end()) return i;
    return -1;
  }

  BList& types_;
  std::unordered_map<std::string, std::vector<BMenuItem*>> byLabel_;
};

// Fills the result list and replays the rotation; the files left unsettled after the last
// accepted type are kept in order.
class ListSink : public SearchSink {
 public:
  ListSink(TypeFilter& filter, BList& results, std::vector<entry_ref>& unsettled)
      : filter_(filter), results_(results), unsettled_(unsettled) {}
  void Matched(entry_ref&& ref) override { results_.AddItem(new entry_ref(std::move(ref))); }
  void TypeAccepted(const char* type) override {
    filter_.Check(type);
    unsettled_.clear();
  }
  void TypeUnsettled(entry_ref&& ref) override { unsettled_.push_back(std::move(ref)); }

 private:
  TypeFilter& filter_;
  BList& results_;
  std::vector<entry_ref>& unsettled_;
};

void settle(std::vector<entry_ref>& unsettled, TypeFilter& filter) {
  char type[B_MIME_TYPE_LENGTH];
  for (auto ref = unsettled.rbegin(); ref != unsettled.rend(); ++ref) {
    BEntry entry(&*ref);
    BFile file;
    struct stat st;
    if (file.SetToRegular(&entry, &st) != B_OK) continue;
    if (BNodeInfo::GetTypeFromContent(file, st, type) == B_OK && filter.Check(type)) break;
  }
  unsettled.clear();
}

}  // namespace

void PendingTypeOrder::Settle(BList& types) {
  if (refs_.empty()) return;
  TypeFilter filter(types);
  settle(refs_, filter);
}

int32 f_dirsearch_BMI(BDirectory& dir, BList& types, BList& results, BList& strings) {
  return f_dirsearch_BMI(dir, types, results, strings, nullptr);
}

int32 f_dirsearch_BMI(BDirectory& dir, BList& types, BList& results, BList& strings,
                      status_t* incomplete) {
  PendingTypeOrder pending;
  int32 count = f_dirsearch_BMI(dir, types, results, strings, incomplete, &pending);
  pending.Settle(types);
  return count;
}

int32 f_dirsearch_BMI(BDirectory& dir, BList& types, BList& results, BList& strings,
                      status_t* incomplete, PendingTypeOrder* pending) {
  TypeFilter filter(types);
  // Where two labels differ only in case, which of them an accepted type brings to the front
  // depends on the list's order: an earlier search's pending files must be settled first.
  // Otherwise a type accepted now makes them moot, since bringing an item to the front gives
  // the same list from any rotation of it.
  if (filter.HasLabelsEqualIgnoringCase()) settle(pending->refs_, filter);
  ListSink sink(filter, results, pending->refs_);
  SearchOptions options;
  options.reportUnsettled = filter.MayReorder();
  SearchOutcome outcome = search_folder(dir, TypeSet(filter.Labels()), SearchStrings(strings), sink, options);
  if (incomplete != nullptr) *incomplete = outcome.incomplete;
  return outcome.matches;
}

bool f_check_MIME(char* type, BList& types) {
  int32 count = types.CountItems();
  int32 found = 0;
  while (found < count &&
         ascii::casecmp(type, static_cast<BMenuItem*>(types.ItemAt(found))->Label()) != 0)
    ++found;
  // Without a match every item would pass through the holding list unmoved; with one, the
  // items before it move to the end in their order, which is a rotation.
  return found < count && types.RotateToFront(found);
}

