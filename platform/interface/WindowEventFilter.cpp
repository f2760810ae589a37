#include "WindowEventFilter.h"

#include <QAction>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QUrl>
#include <QWidget>
#include <memory>

#include "HeldInput.h"
#include "Window.h"
#include "platform/AppDefs.h"
#include "platform/Entry.h"

namespace {

BMessage message_for(const QMimeData* data) {
  BMessage files(B_SIMPLE_DATA);
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    BEntry entry(url.toLocalFile().toUtf8().constData());
    entry_ref ref;
    if (entry.GetRef(&ref) == B_OK) files.AddRef("refs", &ref);
  }
  if (files.HasField("refs")) return files;
  BMessage other(B_MIME_DATA);
  QByteArray text = data->text().toUtf8();
  if (data->hasText()) other.AddData("text/plain", B_RAW_TYPE, text.constData(), text.size());
  return other;
}

// True when the key is the shortcut of an enabled item of a menu in the widget's window's
// menu bar. (The menus are windows of their own, not children of the window.)
bool is_window_shortcut(QWidget* widget, QKeyEvent* key) {
  QKeySequence pressed(key->keyCombination());
  for (QMenuBar* bar : widget->window()->findChildren<QMenuBar*>())
    for (QAction* menu : bar->actions())
      if (menu->menu() != nullptr)
        for (QAction* action : menu->menu()->actions())
          if (action->isEnabled() && action->shortcut() == pressed) return true;
  return false;
}

}  // namespace

bool WindowEventFilter::eventFilter(QObject* watched, QEvent* event) {
  QEvent::Type type = event->type();
  if (type == QEvent::ShortcutOverride) {
    // Kept from the widget and left unaccepted, the override lets the shortcut run instead
    // of the widget's own use of the key.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || BWindow::ForWidget(widget->window()) == nullptr ||
        !is_window_shortcut(widget, static_cast<QKeyEvent*>(event)))
      return false;
    event->ignore();
    return true;
  }
  if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  BWindow* window = widget ? BWindow::ForWidget(widget->window()) : nullptr;
  if (window == nullptr) return false;
  auto* drop = static_cast<QDropEvent*>(event);
  // A drag that began in this window (a match moved a little in the list) is no drop here.
  auto* source = qobject_cast<QWidget*>(drop->source());
  if (source != nullptr && source->window() == widget->window()) {
    drop->ignore();
    return true;
  }
  drop->acceptProposedAction();
  if (type == QEvent::Drop) {
    // Read now, while the drag's data lasts; posted in its turn with the input held meanwhile.
    auto message = std::make_shared<BMessage>(message_for(drop->mimeData()));
    HeldInput::RunInTurn(widget->window(), [window, message] { window->PostMessage(message.get()); });
  }
  return true;
}
