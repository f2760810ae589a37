// The order of the selected type list as a search leaves it. Each file whose type the list
// accepts brings the first item, from the front, whose label is that type ignoring case to the
// front; the items before it move to the end in their order. The order is kept here as
// positions in the list as it was when the search started, so the search's thread can keep it
// while the list and its items stay with the window.
#pragma once

#include <atomic>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Entry.h"
#include "search/Engine.h"

class TypeRotation {
 public:
  explicit TypeRotation(const std::vector<std::string>& labels);
  // Rotates the list for a file of this type; false when no label is the type.
  bool Accept(const char* type);
  // The starting position of the item at the front: the list is the starting list read from
  // there on, round to the start.
  int32 Front() const { return front_; }
  // The labels, each once, folded: the types the search accepts.
  std::vector<std::string> Types() const;
  // Whether an accepted type can change the order at all.
  bool MayReorder() const { return size_ > 1; }
  // Whether the type's label is in the list twice, ignoring case. Then which of its items comes
  // to the front depends on every type accepted before it; otherwise only on the type itself.
  bool IsTwin(const char* type) const;
  bool HasTwins() const { return hasTwins_; }

 private:
  const std::vector<int32>* PositionsOf(const char* type) const;

  std::unordered_map<std::string, std::vector<int32>> positions_;  // by folded label, ascending
  int32 size_;
  int32 front_ = 0;  // the starting position of the item at the front
  bool hasTwins_ = false;
};

// A search's sink that keeps a rotation exact as the search reports the types it accepted and
// the files it left unsettled, telling an unsettled file's type from its content only where
// it can change the order: before a type whose label is in the list twice, and after the last
// type accepted. Runs on the search's thread, as part of the search; what it does with the
// matches is its subclass's.
class TypeOrderKeeper : public SearchSink {
 public:
  TypeOrderKeeper(TypeRotation& rotation, const std::atomic<bool>* stop) : rotation_(rotation), stop_(stop) {}
  void TypeAccepted(const char* type) override;
  void TypeUnsettled(entry_ref&& ref) override { unsettled_.push_back(std::move(ref)); }
  // The walk has ended: the files left unsettled after the last accepted type are told.
  void Finish();

 private:
  void SettleInOrder();
  bool Stopped() const { return stop_ != nullptr && stop_->load(std::memory_order_relaxed); }

  TypeRotation& rotation_;
  const std::atomic<bool>* stop_;
  std::vector<entry_ref> unsettled_;  // since the last accepted type, in walk order
};
