#include "ListView.h"

#include <QAbstractListModel>
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QUrl>
#include <cmath>

#include "Application.h"
#include "Controls.h"
#include "platform/Node.h"
#include "platform/NodeInfo.h"
#include "platform/Roster.h"

// The rows of a BListView, read from its items when the view draws them.
class ListItemModel : public QAbstractListModel {
 public:
  explicit ListItemModel(const BListView* list) : list_(list) {}
  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : int(list_->staleRows_ + list_->shown_);
  }
  QVariant data(const QModelIndex& index, int role) const override {
    int32 item = list_->IndexOfRow(index.row());
    if (item < 0) return {};
    const BListItem* shown = list_->items_[size_t(item)];
    if (role == Qt::DisplayRole) return QString::fromUtf8(shown->DisplayText());
    if (role == Qt::ToolTipRole) {
      std::string tip = shown->ToolTip();
      return tip.empty() ? QVariant() : QVariant(QString::fromStdString(tip));
    }
    return {};
  }
  // Any row may start a drag; one without a file gives no data, and so no drag. (Asking
  // every row for its path here would cost a path per row each time the list is drawn.)
  Qt::ItemFlags flags(const QModelIndex& index) const override {
    return QAbstractListModel::flags(index) | Qt::ItemIsDragEnabled;
  }
  // A dragged file item is offered as a file, to a file manager, an editor or a terminal.
  QStringList mimeTypes() const override { return {"text/uri-list"}; }
  QMimeData* mimeData(const QModelIndexList& indexes) const override {
    QList<QUrl> urls;
    for (const QModelIndex& index : indexes) {
      int32 item = list_->IndexOfRow(index.row());
      std::string path = item >= 0 ? list_->items_[size_t(item)]->FilePath() : "";
      if (!path.empty()) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path)));
    }
    if (urls.isEmpty()) return nullptr;
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
  }
  Qt::DropActions supportedDragActions() const override { return Qt::CopyAction | Qt::LinkAction; }
  // Each change is announced around the change itself, as Qt's models must.
  template <typename Change>
  void Insert(int first, int last, Change change) {
    beginInsertRows({}, first, last);
    change();
    endInsertRows();
  }
  template <typename Change>
  void Remove(int first, int last, Change change) {
    beginRemoveRows({}, first, last);
    change();
    endRemoveRows();
  }

 private:
  const BListView* list_;
};

namespace {

double luminance(const QColor& color) {
  auto channel = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
  return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) + 0.0722 * channel(color.blueF());
}

}  // namespace

double contrast_ratio(const QColor& one, const QColor& other) {
  double a = luminance(one), b = luminance(other);
  return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

// The current row is drawn in the highlight colour; some styles give a highlight, or an
// inactive window's highlight, too close to the list's own colour to be seen. Such a
// highlight is moved towards the text colour until it stands out at 3:1, its text taking the
// list's colour where that reads better.
void make_current_row_visible(QWidget* list) {
  constexpr double kEnough = 3.0;
  QPalette palette = list->palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    QColor base = palette.color(group, QPalette::Base);
    QColor text = palette.color(group, QPalette::Text);
    const QColor original = palette.color(group, QPalette::Highlight);
    QColor highlight = original;
    for (int step = 1; step <= 10 && contrast_ratio(highlight, base) < kEnough; ++step) {
      double t = step / 10.0;
      highlight = QColor::fromRgbF(float(original.redF() * (1 - t) + text.redF() * t),
                                   float(original.greenF() * (1 - t) + text.greenF() * t),
                                   float(original.blueF() * (1 - t) + text.blueF() * t));
    }
    if (highlight == original) continue;
    palette.setColor(group, QPalette::Highlight, highlight);
    QColor onIt = palette.color(group, QPalette::HighlightedText);
    if (contrast_ratio(base, highlight) > contrast_ratio(onIt, highlight))
      palette.setColor(group, QPalette::HighlightedText, base);
  }
  list->setPalette(palette);
}

BListView::BListView(BMessage* archive) : BView(archive, new QListView), list_(static_cast<QListView*>(Widget())) {
  model_ = new ListItemModel(this);
  model_->setParent(list_);
  list_->setModel(model_);
  int32 type = B_SINGLE_SELECTION_LIST;
  archive->FindInt32("_lv_type", &type);
  list_->setSelectionMode(type == B_MULTIPLE_SELECTION_LIST ? QAbstractItemView::ExtendedSelection
                                                            : QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setFrameShape(QFrame::NoFrame);
  list_->setUniformItemSizes(true);
  // A long label loses its middle, so that a path keeps its file name in sight.
  list_->setTextElideMode(Qt::ElideMiddle);
  // The scroll view around the list shows the archive's own scroll bars.
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QPalette palette = list_->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  list_->setPalette(palette);
  QObject::connect(list_, &QListView::activated, list_, [this](const QModelIndex& index) {
    int32 item = IndexOfRow(index.row());
    if (item >= 0) Invoke(item);
  });
  list_->setDragEnabled(true);
  list_->setDragDropMode(QAbstractItemView::DragOnly);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(list_, &QListView::customContextMenuRequested, list_, [this](const QPoint& at) {
    int32 item = IndexOfRow(list_->indexAt(at).row());
    std::unique_ptr<QMenu> menu(item >= 0 ? MakeFileMenu(item) : nullptr);
    if (menu != nullptr) menu->exec(list_->viewport()->mapToGlobal(at));
  });
  // Shift+F10 opens the context menu of the current row, as the Menu key does.
  auto* contextMenu = new QAction(list_);
  contextMenu->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10));
  contextMenu->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  list_->addAction(contextMenu);
  QObject::connect(contextMenu, &QAction::triggered, list_, [this] {
    QModelIndex current = list_->currentIndex();
    if (current.isValid()) emit list_->customContextMenuRequested(list_->visualRect(current).center());
  });
  make_current_row_visible(list_);
  auto* copy = new QAction(list_);
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  list_->addAction(copy);
  QObject::connect(copy, &QAction::triggered, list_, [this] { CopyPath(CurrentSelection()); });
  QObject::connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, list_,
                   [this](const QModelIndex& current) {
                     Send(selection_.get(), current.isValid() ? IndexOfRow(current.row()) : -1);
                   });
}

QMenu* BListView::MakeFileMenu(int32 index) {
  BListItem* item = ItemAt(index);
  std::string path = item != nullptr ? item->FilePath() : "";
  if (path.empty()) return nullptr;
  auto* menu = new QMenu(list_);
  menu->addAction("Open", list_, [this, index] { Invoke(index); });
  QMenu* with = menu->addMenu("Open With");
  BNode node(path.c_str());
  BNodeInfo info(&node);
  char type[B_MIME_TYPE_LENGTH];
  if (info.GetType(type) == B_OK) {
    for (const DesktopApp& app : apps_for_type(type)) {
      with->addAction(QString::fromStdString(app.name), list_, [id = app.id, path] {
        if (open_with_app(id.c_str(), path.c_str()) != B_OK) beep();
      });
    }
  }
  with->setEnabled(!with->isEmpty());
  menu->addAction("Open Containing Folder", list_, [this, path] {
    // The call may wait on the session bus; the beep for a failure comes back to this thread.
    QPointer<QListView> list(list_);
    show_in_file_manager_async(path.c_str(), [list] {
      if (QCoreApplication::instance() == nullptr) return;
      QMetaObject::invokeMethod(QCoreApplication::instance(), [list] {
        if (!list.isNull()) beep();
      }, Qt::QueuedConnection);
    });
  });
  menu->addAction("Copy Path", list_, [this, index] { CopyPath(index); });
  return menu;
}

bool BListView::CopyPath(int32 index) const {
  BListItem* item = ItemAt(index);
  std::string path = item != nullptr ? item->FilePath() : "";
  if (path.empty()) return false;
  QGuiApplication::clipboard()->setText(QString::fromStdString(path));
  return true;
}

int32 BListView::IndexOfRow(int row) const {
  if (row < int(staleRows_) || row >= int(staleRows_ + shown_)) return -1;
  return int32(row - int(staleRows_));
}

bool BListView::AddItem(BListItem* item) { return AddItem(item, CountItems()); }

bool BListView::AddItem(BListItem* item, int32 index) {
  if (item == nullptr || index < 0 || index > CountItems()) return false;
  if (index == CountItems()) {
    items_.push_back(item);
    QueueShowing();
    return true;
  }
  ShowPending();
  model_->Insert(index, index, [&] {
    items_.insert(items_.begin() + index, item);
    ++shown_;
  });
  return true;
}

void BListView::QueueShowing() const {
  if (flushQueued_) return;
  flushQueued_ = true;
  QMetaObject::invokeMethod(list_, [this] { ShowPending(); }, Qt::QueuedConnection);
}

void BListView::ShowPending() const {
  flushQueued_ = false;
  if (staleRows_ > 0) model_->Remove(0, int(staleRows_) - 1, [this] { staleRows_ = 0; });
  if (shown_ < items_.size())
    model_->Insert(int(shown_), int(items_.size()) - 1, [this] { shown_ = items_.size(); });
}

QListView* BListView::List() const {
  ShowPending();
  return list_;
}

BListItem* BListView::RemoveItem(int32 index) {
  if (index < 0 || index >= CountItems()) return nullptr;
  BListItem* item = items_[size_t(index)];
  if (index == 0) {
    items_.pop_front();
    if (shown_ > 0) {
      --shown_;
      ++staleRows_;  // its row stays until the next batch
      QueueShowing();
    }
    return item;
  }
  ShowPending();
  if (size_t(index) >= shown_) {
    items_.erase(items_.begin() + index);
    return item;
  }
  model_->Remove(index, index, [&] {
    items_.erase(items_.begin() + index);
    --shown_;
  });
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
  ShowPending();
  if (items_.empty()) return;
  model_->Remove(0, CountItems() - 1, [this] {
    items_.clear();
    shown_ = staleRows_ = 0;
  });
}

int32 BListView::CurrentSelection(int32 index) const {
  ShowPending();
  QModelIndexList selected = list_->selectionModel()->selectedRows();
  std::sort(selected.begin(), selected.end());
  return index >= 0 && index < selected.size() ? IndexOfRow(selected[index].row()) : -1;
}

void BListView::Select(int32 index) {
  ShowPending();
  list_->setCurrentIndex(model_->index(index, 0));
}

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
