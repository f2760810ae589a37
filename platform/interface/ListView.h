// A list of items shown as a QListView over a model that reads the items themselves, so an
// item costs the widget nothing until it is drawn. The list holds its items by pointer and
// owns none: whoever removes an item deletes it.
#pragma once

#include <memory>
#include <string>
#include <deque>

#include "View.h"

class QColor;
class QListView;
class QMenu;
class QWidget;
class ListItemModel;

// The contrast of two colours by the WCAG formula, from 1 to 21.
double contrast_ratio(const QColor& one, const QColor& other);
// Gives the list's highlight (the current row) at least 3:1 against the list, active or not.
void make_current_row_visible(QWidget* list);

class BListItem {
 public:
  explicit BListItem(uint32 outlineLevel = 0, bool expanded = true)
      : outlineLevel_(outlineLevel), expanded_(expanded) {}
  virtual ~BListItem() = default;
  // The line the list shows for the item.
  virtual const char* DisplayText() const { return ""; }
  // A tooltip (rich text) made when the user hovers over the item; "" for none.
  virtual std::string ToolTip() const { return ""; }
  // The absolute path of the file an item stands for, or "". A list offers what can be done
  // with such a file: a context menu, copying its path, dragging it out as a file.
  virtual std::string FilePath() const { return ""; }
  uint32 OutlineLevel() const { return outlineLevel_; }
  bool IsExpanded() const { return expanded_; }

 private:
  uint32 outlineLevel_;
  bool expanded_;
};

class BStringItem : public BListItem {
 public:
  explicit BStringItem(const char* text, uint32 outlineLevel = 0, bool expanded = true)
      : BListItem(outlineLevel, expanded), text_(text ? text : "") {}
  const char* Text() const { return text_.c_str(); }
  const char* DisplayText() const override { return Text(); }

 private:
  std::string text_;
};

enum list_view_type { B_SINGLE_SELECTION_LIST, B_MULTIPLE_SELECTION_LIST };

class BListView : public BView {
 public:
  // Reads "_lv_type".
  explicit BListView(BMessage* archive);
  const char* ClassName() const override { return "BListView"; }

  bool AddItem(BListItem* item);
  bool AddItem(BListItem* item, int32 index);
  BListItem* RemoveItem(int32 index);
  bool RemoveItem(BListItem* item);
  BListItem* ItemAt(int32 index) const;
  BListItem* FirstItem() const { return ItemAt(0); }
  int32 CountItems() const { return int32(items_.size()); }
  int32 IndexOf(const BListItem* item) const;
  bool IsEmpty() const { return items_.empty(); }
  // Removes every item without deleting any.
  void MakeEmpty();

  int32 CurrentSelection(int32 index = 0) const;
  void Select(int32 index);

  // Sent with the int32 field "index" when an item is invoked (double-click, Enter).
  void SetInvocationMessage(BMessage* message) { invocation_.reset(message); }
  BMessage* InvocationMessage() const { return invocation_.get(); }
  // Sent with "index" when the selection changes.
  void SetSelectionMessage(BMessage* message) { selection_.reset(message); }
  BMessage* SelectionMessage() const { return selection_.get(); }
  status_t Invoke(int32 index);

  // The widget, brought up to date with the items.
  QListView* List() const;
  // The context menu of the file item at index (null for other items): "Open" (the item's
  // invocation), "Open With" (the desktop's applications for its type), "Open Containing
  // Folder" and "Copy Path". The caller owns it; the list shows it on a right click.
  QMenu* MakeFileMenu(int32 index);
  // Puts the file path of the item at index on the clipboard, as Ctrl+C does for the selection.
  bool CopyPath(int32 index) const;
  // The item a row of the widget shows, or -1 for a row of an item removed meanwhile.
  int32 IndexOfRow(int row) const;

 private:
  friend class ListItemModel;
  void Send(const BMessage* message, int32 index);
  // Items appended, and items removed from the front, reach the widget in one batch at the
  // next turn of the event loop or when the widget is next used: a search adds tens of
  // thousands of them, and the next one removes them one by one from the front.
  void ShowPending() const;
  void QueueShowing() const;

  // The model's rows are staleRows_ rows of removed items, then items_[0, shown_).
  mutable size_t staleRows_ = 0;
  mutable size_t shown_ = 0;
  mutable bool flushQueued_ = false;
  ListItemModel* model_;
  std::deque<BListItem*> items_;
  std::unique_ptr<BMessage> invocation_;
  std::unique_ptr<BMessage> selection_;
  QListView* list_;
};
