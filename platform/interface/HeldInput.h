#pragma once

#include <QObject>
#include <QPointer>
#include <deque>
#include <functional>
#include <memory>

class QEvent;

// Holds the user's input to the application's windows while work runs, and hands it over
// afterwards in the order it came, from the event loop, once the handler that held it has
// returned. Held: keys, mouse, wheel, touch and tablet events and close requests as they reach
// a window from the window system, and the shortcut events Qt makes of keys. Everything else
// (painting, exposes, the window manager's pings, timers, posted events) goes on meanwhile.
//
// Qt's own ExcludeUserInputEvents leaves input in each platform plugin's queue, by each
// plugin's rules (xcb's does not wake the event loop for it afterwards); this holds it at the
// one point every platform's input passes through, the application's event filter.
//
// Used on the application's thread only. Holds nest: input is held until the outermost ends.
class HeldInput : public QObject {
 public:
  // What becomes of one event of a held kind while a hold with exceptions lasts.
  enum class Passage { kHeld, kPassed, kTaken };
  using Exceptions = std::function<Passage(QObject* watched, QEvent* event)>;

  // Holds input from construction until destruction. With exceptions, each event of a held
  // kind is asked first: passed on now, taken (the exceptions acted on it), or held. The
  // innermost hold's exceptions apply.
  class Hold {
   public:
    explicit Hold(Exceptions exceptions = {});
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    Exceptions outer_;
  };

  // How many events wait to be handed over (for tests).
  static size_t Waiting();

  // Runs the action now when no input is held or waiting; else queues it behind the held
  // input, to run in its turn while the receiver lives. For what input does that cannot wait
  // as an event: a drop's data belongs to the drag and goes with it, so the drop is read at
  // once and what it asks for waits.
  static void RunInTurn(QObject* receiver, std::function<void()> action);

  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Held {
    QPointer<QObject> receiver;
    std::unique_ptr<QEvent> event;  // or null, with an action to run instead
    std::function<void()> action;
  };

  using QObject::QObject;
  static HeldInput& Instance();
  static bool IsHeldKind(QObject* watched, const QEvent* event);
  static QObject* KeyTarget(QObject* watched, const QEvent* event);
  void Begin();
  void End();
  void HandOver();
  void ScheduleHandOver();

  int holds_ = 0;
  Exceptions exceptions_;
  bool scheduled_ = false;
  const QEvent* passing_ = nullptr;  // the held event being handed over, let through
  std::deque<Held> queue_;
};
