#include "HeldInput.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWindow>
#include <QEvent>
#include <QMetaObject>

HeldInput::Hold::Hold(Exceptions exceptions) : outer_(std::move(Instance().exceptions_)) {
  Instance().exceptions_ = std::move(exceptions);
  Instance().Begin();
}

HeldInput::Hold::~Hold() {
  Instance().exceptions_ = std::move(outer_);
  Instance().End();
}

size_t HeldInput::Waiting() { return Instance().queue_.size(); }

void HeldInput::RunInTurn(QObject* receiver, std::function<void()> action) {
  HeldInput& held = Instance();
  if (held.holds_ == 0 && held.queue_.empty()) {
    action();
    return;
  }
  held.queue_.push_back({receiver, nullptr, std::move(action)});
}

HeldInput& HeldInput::Instance() {
  static QPointer<HeldInput> instance;  // goes with the application that owns it
  if (instance.isNull()) instance = new HeldInput(QCoreApplication::instance());
  return *instance;
}

// Input from the window system reaches a window as a spontaneous event; the shortcuts Qt
// finds among the keys are sent to their actions before any window sees the key.
bool HeldInput::IsHeldKind(QObject* watched, const QEvent* event) {
  switch (event->type()) {
    case QEvent::Shortcut:
      return true;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::Enter:
    case QEvent::Leave:
    case QEvent::Close:
      return watched->isWindowType() && event->spontaneous();
    default:
      return false;
  }
}

// Installed while a hold lasts and until what it held is handed over, so later input waits
// behind earlier input.
bool HeldInput::eventFilter(QObject* watched, QEvent* event) {
  if (event == passing_ || !IsHeldKind(watched, event)) return false;
  if (holds_ > 0 && exceptions_) {
    Passage passage = exceptions_(watched, event);
    if (passage != Passage::kHeld) return passage == Passage::kTaken;
  }
  if (event->type() == QEvent::Close) event->ignore();  // not closed yet, whatever asked
  queue_.push_back({KeyTarget(watched, event), std::unique_ptr<QEvent>(event->clone()), {}});
  return true;
}

// Keys go where the focus is when they are typed: a click that passes meanwhile (a button
// that stays live) must not take the typing somewhere else.
QObject* HeldInput::KeyTarget(QObject* watched, const QEvent* event) {
  bool typed = event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease ||
               event->type() == QEvent::InputMethod;
  QObject* focus = typed && watched == static_cast<QObject*>(QGuiApplication::focusWindow()) ? QGuiApplication::focusObject() : nullptr;
  return focus != nullptr ? focus : watched;
}

void HeldInput::Begin() {
  if (holds_++ == 0 && queue_.empty()) QCoreApplication::instance()->installEventFilter(this);
}

void HeldInput::End() {
  if (--holds_ > 0) return;
  if (queue_.empty())
    QCoreApplication::instance()->removeEventFilter(this);
  else
    ScheduleHandOver();
}

void HeldInput::ScheduleHandOver() {
  if (scheduled_) return;
  scheduled_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        scheduled_ = false;
        HandOver();
      },
      Qt::QueuedConnection);
}

// One event per turn of the event loop, the next one scheduled before this one is sent: if
// this one opens a modal panel, the input that followed it reaches the panel from the panel's
// own loop, as it would have without the hold.
void HeldInput::HandOver() {
  if (holds_ > 0 || queue_.empty()) return;  // a hold's end schedules the rest
  Held next = std::move(queue_.front());
  queue_.pop_front();
  if (queue_.empty())
    QCoreApplication::instance()->removeEventFilter(this);
  else
    ScheduleHandOver();
  if (next.receiver.isNull()) return;
  if (next.event == nullptr) {
    next.action();
    return;
  }
  const QEvent* outer = passing_;
  passing_ = next.event.get();
  QCoreApplication::sendEvent(next.receiver, next.event.get());
  passing_ = outer;
}
