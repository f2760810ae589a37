// Watching folders: changes to a folder's entries (created, removed, renamed, moved in or
// out; not changes inside files) reach a target as B_NODE_MONITOR messages. On Linux this is
// inotify on the folder's path, read on the GUI thread's event loop. The changes of one
// burst (a few milliseconds apart, such as hundreds of files copied in) come as one notice.
#pragma once

#include "Looper.h"
#include "platform/Entry.h"

enum : uint32 { B_STOP_WATCHING = 0, B_WATCH_DIRECTORY = 8 };

// The "opcode" field of a notice: the kind of the last change of its burst.
enum : int32 { B_ENTRY_CREATED = 1, B_ENTRY_REMOVED = 2, B_ENTRY_MOVED = 3 };

status_t watch_node(const node_ref* node, uint32 flags, BMessenger target);
