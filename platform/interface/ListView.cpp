#include "ListView.h"

#include <QListWidget>

#include "Controls.h"

BListView::BListView(BMessage* archive) : BView(archive, new QListWidget), list_(static_cast<QListWidget*>(Widget())) {
  int32 type = B_SINGLE_SELECTION_LIST;
  archive->FindInt32("_lv_type", &type);
  list_->setSelectionMode(type == B_MULTIPLE_SELECTION_LIST ? QAbstractItemView::ExtendedSelection
                                                            : QAbstractItemView::SingleSelection);
  list_->setFrameShape(QFrame::NoFrame);
  // The scroll view around the list shows the archive's own scroll bars.
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QPalette palette = list_->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  list_->setPalette(palette);
  QObject::connect(list_, &QListWidget::itemActivated, list_,
                   [this](QListWidgetItem* item) { Invoke(list_->row(item)); });
  QObject::connect(list_, &QListWidget::currentRowChanged, list_,
                   [this](int row) { Send(selection_.get(), row); });
}

bool BListView::AddItem(BListItem* item) { return AddItem(item, CountItems()); }

bool BListView::AddItem(BListItem* item, int32 index) {
  if (item == nullptr || index < 0 || index > CountItems()) return false;
  items_.insert(items_.begin() + index, item);
  list_->insertItem(index, QString::fromUtf8(item->DisplayText()));
  return true;
}

BListItem* BListView::RemoveItem(int32 index) {
  if (index < 0 || index >= CountItems()) return nullptr;
  BListItem* item = items_[size_t(index)];
  items_.erase(items_.begin() + index);
  delete list_->takeItem(index);
  return item;
}

bool BListView::RemoveItem(BListItem* item) { return RemoveItem(IndexOf(item)) != nullptr; }

BListItem* BListView::ItemAt(int32 index) const {
  return index >= 0 && index < CountItems() ? items_[size_t(index)] : nullptr;
}

int32 BListView::IndexOf(const BListItem* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : int32(it - items_.begin());
}

void BListView::MakeEmpty() {
  items_.clear();
  list_->clear();
}

int32 BListView::CurrentSelection(int32 index) const {
  int32 seen = 0;
  for (int32 row = 0; row < CountItems(); ++row)
    if (list_->item(row)->isSelected() && seen++ == index) return row;
  return -1;
}

void BListView::Select(int32 index) { list_->setCurrentRow(index); }

status_t BListView::Invoke(int32 index) {
  if (invocation_ == nullptr) return B_BAD_VALUE;
  Send(invocation_.get(), index);
  return B_OK;
}

void BListView::Send(const BMessage* message, int32 index) {
  if (message == nullptr) return;
  BMessage copy(*message);
  copy.AddInt32("index", index);
  post_from(this, &copy);
}
