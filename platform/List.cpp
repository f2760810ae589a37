#include "List.h"

#include <algorithm>

BList::BList(int32 blockSize) : blockSize_(blockSize > 0 ? size_t(blockSize) : 1) {}

void BList::Reserve(size_t count) {
  if (count <= items_.capacity()) return;
  size_t blocks = (count + blockSize_ - 1) / blockSize_;
  items_.reserve(std::max(blocks * blockSize_, items_.capacity() * 2));
}

bool BList::AddItem(void* item) {
  Reserve(items_.size() + 1);
  items_.push_back(item);
  return true;
}

bool BList::AddItem(void* item, int32 index) {
  if (index < 0 || size_t(index) > items_.size()) return false;
  Reserve(items_.size() + 1);
  items_.insert(items_.begin() + index, item);
  return true;
}

bool BList::AddList(const BList* list) {
  if (list == nullptr) return false;
  if (list == this) {
    std::vector<void*> copy = items_;
    Reserve(items_.size() * 2);
    items_.insert(items_.end(), copy.begin(), copy.end());
    return true;
  }
  Reserve(items_.size() + list->items_.size());
  items_.insert(items_.end(), list->items_.begin(), list->items_.end());
  return true;
}

void* BList::RemoveItem(int32 index) {
  if (index < 0 || size_t(index) >= items_.size()) return nullptr;
  void* item = items_[index];
  items_.erase(items_.begin() + index);
  return item;
}

bool BList::RemoveItems(int32 index, int32 count) {
  if (index < 0 || count < 0 || size_t(index) + size_t(count) > items_.size()) return false;
  items_.erase(items_.begin() + index, items_.begin() + index + count);
  return true;
}

bool BList::RemoveItem(void* item) {
  int32 index = IndexOf(item);
  if (index < 0) return false;
  items_.erase(items_.begin() + index);
  return true;
}

void* BList::ItemAt(int32 index) const {
  if (index < 0 || size_t(index) >= items_.size()) return nullptr;
  return items_[index];
}

void* BList::FirstItem() const { return items_.empty() ? nullptr : items_.front(); }

void* BList::LastItem() const { return items_.empty() ? nullptr : items_.back(); }

int32 BList::IndexOf(const void* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : int32(it - items_.begin());
}

bool BList::HasItem(const void* item) const { return IndexOf(item) >= 0; }

void BList::MakeEmpty() { items_.clear(); }

bool BList::RotateToFront(int32 index) {
  if (index < 0 || index >= CountItems()) return false;
  std::rotate(items_.begin(), items_.begin() + index, items_.end());
  return true;
}
