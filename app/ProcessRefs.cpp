// The file-manager entry, built as a loadable module: it starts the application on the folder
// the file manager shows, or on the entries selected there.
#include "platform/AppDefs.h"
#include "platform/Entry.h"
#include "platform/Message.h"
#include "platform/Roster.h"
#include "window/Commands.h"

extern "C" __attribute__((visibility("default"))) void process_refs(entry_ref directory,
                                                                    BMessage* message, void*) {
  type_code type;
  int32 count = 0;
  if (message->GetInfo("refs", &type, &count) != B_OK) count = 0;
  if (count == 0) message->AddRef("refs", &directory);
  // A failed launch is not reported.
  be_roster->Launch(kTarnSignature, message, nullptr);
}
