// Loops and handlers: a looper takes posted messages from its queue and dispatches them one at
// a time. On Linux every looper dispatches on the Qt GUI thread, since Qt allows widgets on
// that thread only; what the program says of "the window's thread" holds for that thread.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Message.h"

class BLooper;
class QObject;

class BHandler {
 public:
  explicit BHandler(const char* name = nullptr);
  BHandler(const BHandler&) = delete;
  BHandler& operator=(const BHandler&) = delete;
  virtual ~BHandler();

  virtual void MessageReceived(BMessage* message);
  const char* Name() const { return name_.c_str(); }
  void SetName(const char* name) { name_ = name ? name : ""; }
  BLooper* Looper() const { return looper_; }

 protected:
  void SetLooper(BLooper* looper) { looper_ = looper; }

 private:
  std::string name_;
  BLooper* looper_ = nullptr;
};

class BLooper : public BHandler {
 public:
  explicit BLooper(const char* name = nullptr);
  ~BLooper() override;

  // Queues a copy of the message, to be dispatched to handler (or to the looper itself).
  // Safe to call from any thread.
  status_t PostMessage(uint32 what);
  status_t PostMessage(const BMessage* message, BHandler* handler = nullptr);

  // Called with the looper locked, one message at a time. A message posted while a handler
  // runs, also while it waits in a nested event loop (a modal alert, a panel), waits in the
  // queue until the handler has returned.
  virtual void DispatchMessage(BMessage* message, BHandler* handler);
  virtual bool QuitRequested();
  // Ends the looper and deletes it: at once, or, from inside a handler, when it returns.
  virtual void Quit();

  // The lock may be taken again by the thread that holds it.
  bool Lock();
  void Unlock();
  bool IsLocked() const;
  int32 CountQueuedMessages() const;
  bool IsDispatching() const { return dispatching_; }
  // True while the looper exists: a pointer kept to a looper that quit may be tested.
  static bool IsAlive(const BLooper* looper);

 private:
  struct Queued {
    std::unique_ptr<BMessage> message;
    BHandler* handler;
  };
  void ScheduleDispatch();
  void DispatchNext();

  mutable std::mutex queueMutex_;
  std::deque<Queued> queue_;  // guarded by queueMutex_
  std::recursive_mutex lock_;
  int lockDepth_ = 0;         // guarded by lock_
  bool dispatching_ = false;  // GUI thread only
  bool quitting_ = false;     // GUI thread only
  QObject* pump_;             // lives on the GUI thread; queued dispatches go through it
};

// The old desktop's file manager, which opens the folders it is sent.
constexpr const char* kFileManagerSignature = "application/x-vnd.Be-TRAK";

// Delivers messages to a looper (and one of its handlers); sending to a looper that has quit
// fails with B_BAD_VALUE. Sending to a looper is safe from any thread.
class BMessenger {
 public:
  BMessenger() = default;
  explicit BMessenger(const BHandler* handler, const BLooper* looper = nullptr);
  // A messenger to an application by its signature. Linux has no messaging between desktop
  // applications, so: the old desktop's file manager (kFileManagerSignature) opens the
  // folders of a B_REFS_RECEIVED message in the desktop's file manager; any other registered
  // application is started anew with the message.
  explicit BMessenger(const char* signature, pid_t team = -1);
  bool IsValid() const { return looper_ != nullptr || !signature_.empty(); }
  status_t SendMessage(uint32 what) const;
  status_t SendMessage(const BMessage* message) const;
  BLooper* Target(BHandler** handler = nullptr) const;

 private:
  BHandler* handler_ = nullptr;
  BLooper* looper_ = nullptr;
  std::string signature_;
};
