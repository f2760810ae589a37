// A menu item's state: label, mark, message and shortcut. It needs no window; the interface
// layer shows it when the item is added to a menu on screen.
#pragma once

#include <memory>
#include <string>

#include "platform/Message.h"
#include "platform/SupportDefs.h"

class BMenuItem;

// Shows an item on screen and hears when its state changes; the interface layer's menus are
// one. An item has at most one, while it belongs to a menu.
class MenuItemPresenter {
 public:
  virtual ~MenuItemPresenter() = default;
  virtual void ItemChanged(BMenuItem* item) = 0;
};

class BMenuItem {
 public:
  // The item takes ownership of the message.
  BMenuItem(const char* label, BMessage* message, char shortcut = 0, uint32 modifiers = 0);
  BMenuItem(const BMenuItem&) = delete;
  BMenuItem& operator=(const BMenuItem&) = delete;
  virtual ~BMenuItem();

  const char* Label() const { return label_.c_str(); }
  virtual void SetLabel(const char* label);
  bool IsMarked() const { return marked_; }
  virtual void SetMarked(bool marked);
  bool IsEnabled() const { return enabled_; }
  virtual void SetEnabled(bool enabled);
  BMessage* Message() const { return message_.get(); }
  void SetMessage(BMessage* message);
  char Shortcut(uint32* modifiers = nullptr) const;
  void SetShortcut(char shortcut, uint32 modifiers);
  // A separator between groups of items.
  virtual bool IsSeparator() const { return false; }

  void SetPresenter(MenuItemPresenter* presenter) { presenter_ = presenter; }
  MenuItemPresenter* Presenter() const { return presenter_; }

 private:
  void Changed();

  MenuItemPresenter* presenter_ = nullptr;
  std::string label_;
  std::unique_ptr<BMessage> message_;
  char shortcut_;
  uint32 modifiers_;
  bool marked_ = false;
  bool enabled_ = true;
};
