// Menus and the menu bar, shown as QMenu and QMenuBar. A menu owns its items; invoking an item
// sends a copy of its message, with the pointer field "source" naming the item, to the window.
// A menu of items in a column is one column that scrolls when it is taller than the screen,
// so that every item can be reached by the pointer and the keyboard.
#pragma once

#include <memory>
#include <vector>

#include "View.h"
#include "platform/interface/MenuItem.h"

class QAction;
class QObject;
class QMenu;
class QMenuBar;
class BMenuBar;

enum menu_layout { B_ITEMS_IN_ROW = 0, B_ITEMS_IN_COLUMN = 1, B_ITEMS_IN_MATRIX = 2 };

// Modifiers for item shortcuts. Every shortcut is taken with the command key, which on Linux
// is Ctrl; B_SHIFT_KEY adds Shift.
enum : uint32 { B_SHIFT_KEY = 0x1, B_COMMAND_KEY = 0x100 };

class BSeparatorItem : public BMenuItem {
 public:
  BSeparatorItem() : BMenuItem("", nullptr) {}
  bool IsSeparator() const override { return true; }
};

class BMenu : public MenuItemPresenter {
 public:
  explicit BMenu(const char* name, menu_layout layout = B_ITEMS_IN_COLUMN);
  BMenu(const BMenu&) = delete;
  BMenu& operator=(const BMenu&) = delete;
  ~BMenu() override;

  bool AddItem(BMenuItem* item);
  bool AddItem(BMenuItem* item, int32 index);
  bool AddSeparatorItem();
  // Removes an item without deleting it.
  BMenuItem* RemoveItem(int32 index);
  bool RemoveItem(BMenuItem* item);
  bool RemoveItems(int32 index, int32 count, bool deleteItems = false);
  BMenuItem* ItemAt(int32 index) const;
  int32 CountItems() const { return int32(items_.size()); }
  int32 IndexOf(const BMenuItem* item) const;
  BMenuItem* FindItem(const char* label) const;
  BMenuItem* FindMarked() const;

  const char* Name() const { return name_.c_str(); }
  menu_layout Layout() const { return layout_; }
  BWindow* Window() const;
  // The Qt menu. Items added at the end while it is closed join its actions when it opens.
  QMenu* Widget() const { return menu_.get(); }
  // The Qt action that shows an item; for tests that trigger items as a user would.
  QAction* ActionFor(const BMenuItem* item) const;

  void ItemChanged(BMenuItem* item) override;

  // When set, choosing an item (a click, Enter or Space) leaves the menu open, so that several
  // can be marked in one opening; Escape or a click elsewhere closes it.
  void SetStaysOpen(bool staysOpen);

 private:
  friend class BMenuBar;
  void Invoke(BMenuItem* item);
  void Show(BMenuItem* item, QAction* action);
  void PlaceActions();

  std::string name_;
  menu_layout layout_;
  std::unique_ptr<QMenu> menu_;
  std::vector<BMenuItem*> items_;
  std::vector<QAction*> actions_;
  size_t placed_ = 0;  // actions_ before this index are in the Qt menu, the rest wait to be
  BMenuBar* bar_ = nullptr;
  QObject* stayOpen_ = nullptr;  // the filter SetStaysOpen installs, a child of the menu
};

class BMenuBar : public BView {
 public:
  BMenuBar(BRect frame, const char* name, uint32 resizingMode = B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP,
           menu_layout layout = B_ITEMS_IN_ROW, bool resizeToFit = true);
  ~BMenuBar() override;
  const char* ClassName() const override { return "BMenuBar"; }

  // The bar owns its menus.
  bool AddItem(BMenu* menu);
  int32 CountItems() const { return int32(menus_.size()); }
  BMenu* SubmenuAt(int32 index) const;
  menu_layout Layout() const { return layout_; }
  bool ResizesToFit() const { return resizeToFit_; }
  QMenuBar* Bar() const { return bar_; }
  // The height the style draws the bar's titles in, in the frames' units (a frame of this
  // height has Height() one less).
  float PreferredHeight() const;

 private:
  menu_layout layout_;
  bool resizeToFit_;
  QMenuBar* bar_;
  std::vector<std::unique_ptr<BMenu>> menus_;
};
