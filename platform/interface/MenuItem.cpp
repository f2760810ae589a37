#include "MenuItem.h"

BMenuItem::BMenuItem(const char* label, BMessage* message, char shortcut, uint32 modifiers)
    : label_(label != nullptr ? label : ""), message_(message), shortcut_(shortcut),
      modifiers_(modifiers) {}

BMenuItem::~BMenuItem() = default;

void BMenuItem::Changed() {
  if (presenter_ != nullptr) presenter_->ItemChanged(this);
}

void BMenuItem::SetLabel(const char* label) {
  label_ = label != nullptr ? label : "";
  Changed();
}

void BMenuItem::SetMarked(bool marked) {
  marked_ = marked;
  Changed();
}

void BMenuItem::SetEnabled(bool enabled) {
  enabled_ = enabled;
  Changed();
}

void BMenuItem::SetMessage(BMessage* message) { message_.reset(message); }

char BMenuItem::Shortcut(uint32* modifiers) const {
  if (modifiers != nullptr) *modifiers = modifiers_;
  return shortcut_;
}

void BMenuItem::SetShortcut(char shortcut, uint32 modifiers) {
  shortcut_ = shortcut;
  modifiers_ = modifiers;
  Changed();
}
