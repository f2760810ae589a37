// An ordered list of untyped pointers. It owns nothing: whoever puts a pointer in says who frees it.
#pragma once

#include <vector>

#include "SupportDefs.h"

class BList {
 public:
  // The list grows by blockSize items at a time.
  explicit BList(int32 blockSize = 20);

  bool AddItem(void* item);
  bool AddItem(void* item, int32 index);
  // Appends the items of another list, in their order.
  bool AddList(const BList* list);

  // Removes the item at index and returns it, or nullptr when the index is out of range.
  void* RemoveItem(int32 index);
  // Removes count items from index on; false when they are not all there.
  bool RemoveItems(int32 index, int32 count);
  // Removes the first occurrence of item; false when the list does not hold it.
  bool RemoveItem(void* item);

  void* ItemAt(int32 index) const;
  void* FirstItem() const;
  void* LastItem() const;
  int32 IndexOf(const void* item) const;
  bool HasItem(const void* item) const;
  int32 CountItems() const { return int32(items_.size()); }
  bool IsEmpty() const { return items_.empty(); }
  void MakeEmpty();
  // Moves the items before index, in their order, to the end: the item at index comes first.
  bool RotateToFront(int32 index);

 private:
  void Reserve(size_t count);

  std::vector<void*> items_;
  size_t blockSize_;
};
