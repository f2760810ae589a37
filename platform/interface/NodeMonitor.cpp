#include "NodeMonitor.h"

#include <QSocketNotifier>
#include <QTimer>
#include <map>
#include <set>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/AppDefs.h"

namespace {

// How long a burst of changes may pause before its notice goes out.
constexpr int kBurstMilliseconds = 40;
constexpr uint32_t kEntryEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;

class Monitor {
 public:
  static Monitor& Get() {
    static Monitor monitor;
    return monitor;
  }

  status_t Watch(const node_ref& node, BMessenger target) {
    if (fd_ < 0) return B_NOT_SUPPORTED;
    struct stat st;
    if (stat(node.path.c_str(), &st) != 0 || st.st_dev != node.device || st.st_ino != node.node)
      return B_ENTRY_NOT_FOUND;  // the path no longer leads to the node
    int wd = inotify_add_watch(fd_, node.path.c_str(), kEntryEvents);
    if (wd < 0) return status_from_errno();
    watches_[wd].push_back({node, target});
    return B_OK;
  }

  status_t Stop(const node_ref& node, BMessenger target) {
    for (auto it = watches_.begin(); it != watches_.end(); ++it) {
      auto& targets = it->second;
      auto found = std::find_if(targets.begin(), targets.end(), [&](const Watcher& w) {
        return w.node == node && w.target.Target(nullptr) == target.Target(nullptr);
      });
      if (found == targets.end()) continue;
      targets.erase(found);
      if (targets.empty()) {
        inotify_rm_watch(fd_, it->first);
        watches_.erase(it);
      }
      return B_OK;
    }
    return B_BAD_VALUE;
  }

 private:
  struct Watcher {
    node_ref node;
    BMessenger target;
  };

  Monitor() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ < 0) return;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] { ReadEvents(); });
    burst_ = new QTimer;
    burst_->setSingleShot(true);
    burst_->setInterval(kBurstMilliseconds);
    QObject::connect(burst_, &QTimer::timeout, burst_, [this] { Notify(); });
  }

  void ReadEvents() {
    alignas(inotify_event) char buffer[16384];
    ssize_t got;
    while ((got = read(fd_, buffer, sizeof buffer)) > 0) {
      for (char* p = buffer; p < buffer + got;) {
        auto* event = reinterpret_cast<inotify_event*>(p);
        if (event->mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) {
          pending_[event->wd] = event->mask & IN_CREATE   ? B_ENTRY_CREATED
                                : event->mask & IN_DELETE ? B_ENTRY_REMOVED
                                                          : B_ENTRY_MOVED;
        }
        p += sizeof(inotify_event) + event->len;
      }
    }
    if (!pending_.empty()) burst_->start();  // restarted by every event of the burst
  }

  void Notify() {
    std::map<int, int32> pending;
    pending.swap(pending_);
    for (const auto& [wd, opcode] : pending) {
      auto it = watches_.find(wd);
      if (it == watches_.end()) continue;
      for (const Watcher& watch : std::vector<Watcher>(it->second)) {
        BMessage notice(B_NODE_MONITOR);
        notice.AddInt32("opcode", opcode);
        notice.AddInt64("device", int64(watch.node.device));
        notice.AddInt64("directory", int64(watch.node.node));
        watch.target.SendMessage(&notice);
      }
    }
  }

  int fd_;
  QSocketNotifier* notifier_ = nullptr;
  QTimer* burst_ = nullptr;
  std::map<int, std::vector<Watcher>> watches_;
  std::map<int, int32> pending_;
};

}  // namespace

status_t watch_node(const node_ref* node, uint32 flags, BMessenger target) {
  if (node == nullptr || !target.IsValid()) return B_BAD_VALUE;
  if (flags == B_STOP_WATCHING) return Monitor::Get().Stop(*node, target);
  if (flags & B_WATCH_DIRECTORY) return Monitor::Get().Watch(*node, target);
  return B_BAD_VALUE;
}
