#include "TypeOrder.h"

#include <algorithm>
#include <sys/stat.h>

#include "platform/AsciiFold.h"
#include "platform/File.h"
#include "platform/NodeInfo.h"

TypeRotation::TypeRotation(const std::vector<std::string>& labels) : size_(int32(labels.size())) {
  for (int32 i = 0; i < size_; ++i) {
    std::vector<int32>& positions = positions_[ascii::folded(labels[size_t(i)])];
    positions.push_back(i);
    hasTwins_ = hasTwins_ || positions.size() > 1;
  }
}

const std::vector<int32>* TypeRotation::PositionsOf(const char* type) const {
  auto found = positions_.find(ascii::folded(type));
  return found != positions_.end() ? &found->second : nullptr;
}

// The list is only ever rotated, so it is the starting list read from the item at the front
// on, round to the start: the first item with the label from the front is the first at or
// after the front's position, or else the first of all.
bool TypeRotation::Accept(const char* type) {
  const std::vector<int32>* positions = PositionsOf(type);
  if (positions == nullptr) return false;
  auto next = std::lower_bound(positions->begin(), positions->end(), front_);
  front_ = next != positions->end() ? *next : positions->front();
  return true;
}

std::vector<std::string> TypeRotation::Types() const {
  std::vector<std::string> types;
  for (const auto& [label, positions] : positions_) types.push_back(label);
  return types;
}

bool TypeRotation::IsTwin(const char* type) const {
  const std::vector<int32>* positions = PositionsOf(type);
  return positions != nullptr && positions->size() > 1;
}

namespace {

// The type an unsettled file's content gives, as the search would have told it.
bool type_from_content(const entry_ref& ref, char* type) {
  BEntry entry(&ref);
  BFile file;
  struct stat st;
  return file.SetToRegular(&entry, &st) == B_OK && BNodeInfo::GetTypeFromContent(file, st, type) == B_OK;
}

}  // namespace

// A type with a label of its own brings that item to the front from anywhere, so the files
// before it cannot matter; a twin's item depends on where the list stood.
void TypeOrderKeeper::TypeAccepted(const char* type) {
  if (rotation_.IsTwin(type)) SettleInOrder();
  unsettled_.clear();
  rotation_.Accept(type);
}

void TypeOrderKeeper::SettleInOrder() {
  char type[B_MIME_TYPE_LENGTH];
  for (const entry_ref& ref : unsettled_) {
    if (Stopped()) break;
    if (type_from_content(ref, type)) rotation_.Accept(type);
  }
  unsettled_.clear();
}

// Without twins only the last accepted file counts: the files are told from the last back
// until one is accepted.
void TypeOrderKeeper::Finish() {
  if (rotation_.HasTwins()) {
    SettleInOrder();
    return;
  }
  char type[B_MIME_TYPE_LENGTH];
  for (auto ref = unsettled_.rbegin(); ref != unsettled_.rend() && !Stopped(); ++ref)
    if (type_from_content(*ref, type) && rotation_.Accept(type)) break;
  unsettled_.clear();
}
