#include "ListSearch.h"

#include "platform/AsciiFold.h"
#include "platform/interface/MenuItem.h"
#include "search/BlockScanner.h"
#include "search/Engine.h"
#include "window/TypeOrder.h"

namespace {

class ListSink : public TypeOrderKeeper {
 public:
  ListSink(TypeRotation& rotation, BList& results) : TypeOrderKeeper(rotation, nullptr), results_(results) {}
  void Matched(entry_ref&& ref) override { results_.AddItem(new entry_ref(std::move(ref))); }

 private:
  BList& results_;
};

}  // namespace

int32 f_dirsearch_BMI(BDirectory& dir, BList& types, BList& results, BList& strings, status_t* incomplete) {
  std::vector<std::string> labels;
  for (int32 i = 0; i < types.CountItems(); ++i) labels.push_back(static_cast<BMenuItem*>(types.ItemAt(i))->Label());
  TypeRotation rotation(labels);
  ListSink sink(rotation, results);
  SearchOptions options;
  options.reportUnsettled = rotation.MayReorder();
  SearchOutcome outcome = search_folder(dir, TypeSet(rotation.Types()), SearchStrings(strings), sink, options);
  sink.Finish();
  if (rotation.Front() > 0) types.RotateToFront(rotation.Front());
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
