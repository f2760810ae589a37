#include "Menu.h"

#include <QAction>
#include <QMenu>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QShortcut>

#include "Window.h"

namespace {

QKeySequence shortcut_for(const BMenuItem* item) {
  uint32 modifiers = 0;
  char key = item->Shortcut(&modifiers);
  if (key == 0) return {};
  int code = (key >= 'a' && key <= 'z') ? Qt::Key_A + (key - 'a')
             : (key >= 'A' && key <= 'Z') ? Qt::Key_A + (key - 'A')
                                          : int(static_cast<unsigned char>(key));
  int combination = Qt::CTRL | code;
  if (modifiers & B_SHIFT_KEY) combination |= Qt::SHIFT;
  return QKeySequence(combination);
}

// One column that scrolls, instead of the extra columns Qt lays out for a menu taller than
// the screen, which can run off its side.
class ScrollingMenuStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* answer) const override {
    if (hint == SH_Menu_Scrollable) return 1;
    return QProxyStyle::styleHint(hint, option, widget, answer);
  }
};

// Chooses the item under the pointer or the keyboard's item without letting the menu close.
class StayOpenFilter : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* menu = static_cast<QMenu*>(watched);
    QAction* action = nullptr;
    if (event->type() == QEvent::MouseButtonRelease)
      action = menu->actionAt(static_cast<QMouseEvent*>(event)->position().toPoint());
    else if (event->type() == QEvent::KeyPress) {
      int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) action = menu->activeAction();
    }
    if (action == nullptr || action->isSeparator() || !action->isEnabled() || action->menu() != nullptr)
      return false;
    action->trigger();
    return true;
  }
};

}  // namespace

BMenu::BMenu(const char* name, menu_layout layout)
    : name_(name ? name : ""), layout_(layout), menu_(std::make_unique<QMenu>(QString::fromUtf8(name_.c_str()))) {
  apply_archived_font(menu_.get(), nullptr);
  QObject::connect(menu_.get(), &QMenu::aboutToShow, menu_.get(), [this] { PlaceActions(); });
  if (layout == B_ITEMS_IN_COLUMN) {
    auto* style = new ScrollingMenuStyle;
    style->setParent(menu_.get());
    menu_->setStyle(style);
  }
}

void BMenu::SetStaysOpen(bool staysOpen) {
  delete stayOpen_;
  stayOpen_ = staysOpen ? new StayOpenFilter(menu_.get()) : nullptr;
  if (stayOpen_ != nullptr) menu_->installEventFilter(stayOpen_);
}

BMenu::~BMenu() {
  for (BMenuItem* item : items_) {
    item->SetPresenter(nullptr);
    delete item;
  }
}

bool BMenu::AddItem(BMenuItem* item) { return AddItem(item, CountItems()); }

// An item added at the end without a shortcut is placed in the Qt menu when the menu next
// opens, all such items at once: Qt takes time in the number of a menu's actions for each one
// placed, so a menu filled with thousands while closed would otherwise cost time in their square.
bool BMenu::AddItem(BMenuItem* item, int32 index) {
  if (item == nullptr || index < 0 || index > CountItems() || item->Presenter() != nullptr) return false;
  auto* action = new QAction(menu_.get());
  if (item->IsSeparator()) action->setSeparator(true);
  items_.insert(items_.begin() + index, item);
  actions_.insert(actions_.begin() + index, action);
  item->SetPresenter(this);
  Show(item, action);
  QObject::connect(action, &QAction::triggered, action, [this, item] { Invoke(item); });
  // A menu never looks empty to Qt, and an item with a shortcut works at once.
  if (placed_ == 0 || size_t(index) + 1 < actions_.size() || !action->shortcut().isEmpty()) PlaceActions();
  return true;
}

void BMenu::PlaceActions() {
  if (placed_ == actions_.size()) return;
  QList<QAction*> unplaced(actions_.begin() + placed_, actions_.end());
  menu_->addActions(unplaced);
  placed_ = actions_.size();
}

bool BMenu::AddSeparatorItem() { return AddItem(new BSeparatorItem); }

BMenuItem* BMenu::RemoveItem(int32 index) {
  if (index < 0 || index >= CountItems()) return nullptr;
  BMenuItem* item = items_[size_t(index)];
  delete actions_[size_t(index)];  // which takes it out of the Qt menu
  if (size_t(index) < placed_) --placed_;
  items_.erase(items_.begin() + index);
  actions_.erase(actions_.begin() + index);
  item->SetPresenter(nullptr);
  return item;
}

bool BMenu::RemoveItem(BMenuItem* item) { return RemoveItem(IndexOf(item)) != nullptr; }

bool BMenu::RemoveItems(int32 index, int32 count, bool deleteItems) {
  if (index < 0 || count < 0 || index + count > CountItems()) return false;
  for (int32 i = 0; i < count; ++i) {
    BMenuItem* item = RemoveItem(index);
    if (deleteItems) delete item;
  }
  return true;
}

BMenuItem* BMenu::ItemAt(int32 index) const {
  return index >= 0 && index < CountItems() ? items_[size_t(index)] : nullptr;
}

int32 BMenu::IndexOf(const BMenuItem* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : int32(it - items_.begin());
}

BMenuItem* BMenu::FindItem(const char* label) const {
  for (BMenuItem* item : items_)
    if (label != nullptr && strcmp(item->Label(), label) == 0) return item;
  return nullptr;
}

BMenuItem* BMenu::FindMarked() const {
  for (BMenuItem* item : items_)
    if (item->IsMarked()) return item;
  return nullptr;
}

BWindow* BMenu::Window() const { return bar_ != nullptr ? bar_->Window() : nullptr; }

QAction* BMenu::ActionFor(const BMenuItem* item) const {
  int32 index = IndexOf(item);
  return index < 0 ? nullptr : actions_[size_t(index)];
}

void BMenu::ItemChanged(BMenuItem* item) {
  QAction* action = ActionFor(item);
  if (action == nullptr) return;
  Show(item, action);
  if (!action->shortcut().isEmpty()) PlaceActions();
}

// Only a marked item shows a mark, as on the old system: an unmarked one is a plain item, not
// an empty checkbox. The mark shown is always the item's own, whatever Qt would toggle.
void BMenu::Show(BMenuItem* item, QAction* action) {
  if (item->IsSeparator()) return;
  action->setText(QString::fromUtf8(item->Label()));
  action->setCheckable(item->IsMarked());
  action->setChecked(item->IsMarked());
  action->setEnabled(item->IsEnabled());
  action->setShortcut(shortcut_for(item));
}

void BMenu::Invoke(BMenuItem* item) {
  if (QAction* action = ActionFor(item)) {
    action->setCheckable(item->IsMarked());
    action->setChecked(item->IsMarked());
  }
  BWindow* window = Window();
  if (item->Message() == nullptr || window == nullptr) return;
  BMessage copy(*item->Message());
  copy.AddPointer("source", item);
  window->PostMessage(&copy);
}

BMenuBar::BMenuBar(BRect frame, const char* name, uint32 resizingMode, menu_layout layout,
                   bool resizeToFit)
    : BView(frame, name, resizingMode, B_WILL_DRAW, new QMenuBar),
      layout_(layout),
      resizeToFit_(resizeToFit),
      bar_(static_cast<QMenuBar*>(Widget())) {
  bar_->setNativeMenuBar(false);
  apply_archived_font(bar_, nullptr);
  // F10 opens the first menu, as on the other desktop programs.
  auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), bar_, nullptr, nullptr, Qt::WindowShortcut);
  QObject::connect(f10, &QShortcut::activated, bar_, [this] {
    if (!bar_->actions().isEmpty()) bar_->setActiveAction(bar_->actions().first());
  });
}

float BMenuBar::PreferredHeight() const { return float(bar_->sizeHint().height()); }

BMenuBar::~BMenuBar() {
  // The menus' Qt objects go before the bar's widget, which refers to them.
  for (auto& menu : menus_) bar_->removeAction(menu->Widget()->menuAction());
  menus_.clear();
}

bool BMenuBar::AddItem(BMenu* menu) {
  if (menu == nullptr || menu->bar_ != nullptr) return false;
  menu->bar_ = this;
  // Alt and the first letter of the label opens the menu; the label keeps its text.
  QString title = QString::fromUtf8(menu->Name()).replace("&", "&&");
  menu->Widget()->setTitle(title.isEmpty() ? title : QString("&") + title);
  bar_->addMenu(menu->Widget());
  menus_.emplace_back(menu);
  return true;
}

BMenu* BMenuBar::SubmenuAt(int32 index) const {
  return index >= 0 && index < CountItems() ? menus_[size_t(index)].get() : nullptr;
}
