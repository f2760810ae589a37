#include "DropFilter.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

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

}  // namespace

bool DropFilter::eventFilter(QObject* watched, QEvent* event) {
  QEvent::Type type = event->type();
  if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  BWindow* window = widget ? BWindow::ForWidget(widget->window()) : nullptr;
  if (window == nullptr) return false;
  auto* drop = static_cast<QDropEvent*>(event);
  drop->acceptProposedAction();
  if (type == QEvent::Drop) {
    BMessage message = message_for(drop->mimeData());
    window->PostMessage(&message);
  }
  return true;
}
