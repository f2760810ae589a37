// The desktop entry's Exec program: hands the files the desktop opens with the application
// to a new instance as B_REFS_RECEIVED, through the launch protocol.
//   tarnwickloft-open APPLICATION [FILE...]
// Every argument after the application is a path; none is taken for an option.
#include <cstdio>

#include "platform/AppDefs.h"
#include "platform/Entry.h"
#include "platform/Message.h"
#include "platform/Roster.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fputs("usage: tarnwickloft-open APPLICATION [FILE...]\n", stderr);
    return 2;
  }
  BMessage message(B_REFS_RECEIVED);
  for (int i = 2; i < argc; ++i) {
    entry_ref ref;
    if (BEntry(argv[i]).GetRef(&ref) == B_OK) message.AddRef("refs", &ref);
  }
  status_t status = spawn_launch(argv[1], message.HasField("refs") ? &message : nullptr);
  if (status != B_OK) fprintf(stderr, "tarnwickloft-open: cannot start %s\n", argv[1]);
  return status == B_OK ? 0 : 1;
}
