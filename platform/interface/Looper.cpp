#include "Looper.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <set>

#include "platform/AppDefs.h"
#include "platform/List.h"
#include "platform/Roster.h"

namespace {

std::mutex liveMutex;
std::set<const BLooper*> liveLoopers;  // guarded by liveMutex

}  // namespace

bool BLooper::IsAlive(const BLooper* looper) {
  std::lock_guard<std::mutex> guard(liveMutex);
  return liveLoopers.count(looper) > 0;
}

BHandler::BHandler(const char* name) : name_(name ? name : "") {}

BHandler::~BHandler() = default;

void BHandler::MessageReceived(BMessage*) {}

BLooper::BLooper(const char* name) : BHandler(name), pump_(new QObject) {
  SetLooper(this);
  std::lock_guard<std::mutex> guard(liveMutex);
  liveLoopers.insert(this);
  if (QCoreApplication::instance() != nullptr) pump_->moveToThread(QCoreApplication::instance()->thread());
}

// Deleting the pump drops the dispatches still queued for this looper.
BLooper::~BLooper() {
  {
    std::lock_guard<std::mutex> guard(liveMutex);
    liveLoopers.erase(this);
  }
  delete pump_;
}

status_t BLooper::PostMessage(uint32 what) {
  BMessage message(what);
  return PostMessage(&message);
}

status_t BLooper::PostMessage(const BMessage* message, BHandler* handler) {
  if (message == nullptr) return B_BAD_VALUE;
  {
    std::lock_guard<std::mutex> guard(queueMutex_);
    queue_.push_back({std::make_unique<BMessage>(*message), handler});
  }
  ScheduleDispatch();
  return B_OK;
}

void BLooper::ScheduleDispatch() {
  QMetaObject::invokeMethod(pump_, [this] { DispatchNext(); }, Qt::QueuedConnection);
}

// One message per turn of the event loop, so the screen keeps being drawn between them.
void BLooper::DispatchNext() {
  if (dispatching_) return;  // resumed when the running handler returns
  Queued next;
  {
    std::lock_guard<std::mutex> guard(queueMutex_);
    if (queue_.empty()) return;
    next = std::move(queue_.front());
    queue_.pop_front();
  }
  dispatching_ = true;
  Lock();
  DispatchMessage(next.message.get(), next.handler ? next.handler : this);
  Unlock();
  dispatching_ = false;
  if (quitting_) {
    delete this;
    return;
  }
  if (CountQueuedMessages() > 0) ScheduleDispatch();
}

void BLooper::DispatchMessage(BMessage* message, BHandler* handler) {
  if (message->what == B_QUIT_REQUESTED && handler == this) {
    if (QuitRequested()) Quit();
    return;
  }
  handler->MessageReceived(message);
}

bool BLooper::QuitRequested() { return true; }

void BLooper::Quit() {
  quitting_ = true;
  if (!dispatching_) delete this;
}

bool BLooper::Lock() {
  lock_.lock();
  ++lockDepth_;
  return true;
}

void BLooper::Unlock() {
  --lockDepth_;
  lock_.unlock();
}

bool BLooper::IsLocked() const { return lockDepth_ > 0; }

int32 BLooper::CountQueuedMessages() const {
  std::lock_guard<std::mutex> guard(queueMutex_);
  return int32(queue_.size());
}

BMessenger::BMessenger(const BHandler* handler, const BLooper* looper)
    : handler_(const_cast<BHandler*>(handler)),
      looper_(const_cast<BLooper*>(looper ? looper : handler ? handler->Looper() : nullptr)) {}

status_t BMessenger::SendMessage(uint32 what) const {
  BMessage message(what);
  return SendMessage(&message);
}

BMessenger::BMessenger(const char* signature, pid_t) : signature_(signature ? signature : "") {}

namespace {

status_t send_to_application(const std::string& signature, const BMessage* message) {
  if (signature != kFileManagerSignature) return be_roster->Launch(signature.c_str(), message);
  if (message->what != B_REFS_RECEIVED) return B_BAD_VALUE;
  BList messages;
  messages.AddItem(const_cast<BMessage*>(message));
  return be_roster->Launch("inode/directory", &messages);
}

}  // namespace

status_t BMessenger::SendMessage(const BMessage* message) const {
  if (message == nullptr) return B_BAD_VALUE;
  if (!signature_.empty()) return send_to_application(signature_, message);
  // Held across the post, so that a looper being deleted on the GUI thread meanwhile is
  // either still whole or already gone for this sender.
  std::lock_guard<std::mutex> guard(liveMutex);
  if (looper_ == nullptr || liveLoopers.count(looper_) == 0) return B_BAD_VALUE;
  return looper_->PostMessage(message, handler_ == looper_ ? nullptr : handler_);
}

BLooper* BMessenger::Target(BHandler** handler) const {
  if (handler != nullptr) *handler = handler_;
  return looper_;
}
