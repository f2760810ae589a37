#include "EntryItem.h"

#include <atomic>

namespace {
std::atomic<int32> live{0};
}

EntryItem::EntryItem(const entry_ref& ref, const char* label)
    : BStringItem(label, 0, true), ref_(ref) {
  ++live;
}

EntryItem::~EntryItem() { --live; }

int32 EntryItem::LiveCount() { return live.load(); }
