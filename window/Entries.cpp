// The search window's entries: what a dropped or opened entry means, and the commands on the
// example file.
#include <cstring>
#include <sys/stat.h>

#include "Commands.h"
#include "TarnWin.h"
#include "ViewNames.h"
#include "platform/AppDefs.h"
#include "platform/Directory.h"
#include "platform/File.h"
#include "platform/MimeType.h"
#include "platform/NodeInfo.h"
#include "platform/Path.h"
#include "platform/Roster.h"
#include "platform/interface/Application.h"
#include "platform/interface/Menu.h"
#include "saved/SavedSearch.h"

namespace {

// Whether the file's own preferred application is this one, byte for byte.
bool prefers_this_app(BNode& node) {
  char signature[B_MIME_TYPE_LENGTH + 1] = {};
  BNodeInfo info(&node);
  return info.GetPreferredApp(signature) == B_OK && strcmp(signature, kTarnSignature) == 0;
}

}  // namespace

void TarnWin::RefsReceived(BMessage* message) {
  type_code code;
  int32 count = 0;
  entry_ref ref;
  if (message->GetInfo("refs", &code, &count) != B_OK || count < 1) return;
  if (message->FindRef("refs", 0, &ref) != B_OK) return;  // only the first entry is used
  BEntry entry(&ref, true);
  struct stat st;
  if (entry.GetStat(&st) != B_OK) return;  // a link that cannot be followed is ignored
  entry_kind kind = kind_of(st);
  if (kind == entry_kind::file) {
    BNode node(&entry);
    BNodeInfo info(&node);
    char type[B_MIME_TYPE_LENGTH] = {};
    if (info.GetType(type) != B_OK) type[0] = '\0';
    if (strcmp(type, kSavedSearchType) == 0) {
      BFile file(&ref, B_READ_ONLY);
      if (file.InitCheck() == B_OK) RestoreState(&entry);
      return;
    }
    TakeExampleFile(entry, node, type);
  } else if (kind == entry_kind::folder) {
    TakeFolder(entry);
  }
}

void TarnWin::TakeExampleFile(BEntry& entry, BNode& node, const char* type) {
  BPath path;
  if (entry.GetPath(&path) != B_OK) return;
  SetFieldText(view_names::kFile, path.Path());
  SetTitle((std::string(kTitlePrefix) + path.Leaf()).c_str());
  markMimes(false);
  markMime(BMimeType(type));  // a type without an item leaves none selected
  if (defaultAppItem != nullptr) defaultAppItem->SetMarked(prefers_this_app(node));
  if (FindView(view_names::kSearchDir) != nullptr) {
    BPath parent;
    if (path.GetParent(&parent) != B_OK) return;
    SetFieldText(view_names::kSearchDir, parent.Path());
  }
  ForgetSavedSearch();
}

void TarnWin::TakeFolder(BEntry& entry) {
  SetFieldText(view_names::kFile, "");
  SetTitle(kTitle);
  if (defaultAppItem != nullptr) defaultAppItem->SetMarked(false);
  if (FindView(view_names::kSearchDir) != nullptr) {
    BPath path;
    if (entry.GetPath(&path) != B_OK) return;
    SetFieldText(view_names::kSearchDir, path.Path());
  }
  ForgetSavedSearch();
}

// The saved-search folder, its watch and the settings file stay: the next start restores the
// last saved search, and the Restore menu lists the same folder with no item current.
void TarnWin::ForgetSavedSearch() {
  delete currentSearchPath;
  currentSearchPath = nullptr;
  MarkCurrentSavedSearch();
}

void TarnWin::OpenFile(BMessage*) {
  std::string text = FieldText(view_names::kFile);
  BEntry entry(text.c_str(), false);
  BNode node(text.c_str());
  if (entry.InitCheck() != B_OK || node.InitCheck() != B_OK) {
    beep();
    return;
  }
  BNodeInfo info(&node);
  char type[B_MIME_TYPE_LENGTH];
  entry_ref ref;
  // A file that carries no type names no application to start.
  if (info.GetType(type) != B_OK || entry.GetRef(&ref) != B_OK) {
    beep();
    return;
  }
  BMessage refs(B_REFS_RECEIVED);
  refs.AddRef("refs", &ref);
  BList messages(20);
  messages.AddItem(&refs);
  be_roster->Launch(type, &messages, nullptr);  // a failed launch is silent
}

// The file must open for writing: its preferred application can be set only then.
void TarnWin::SearchFileChanged(BMessage*) {
  BFile file(FieldText(view_names::kFile).c_str(), B_READ_WRITE);
  if (file.InitCheck() != B_OK) {
    beep();
    return;
  }
  if (defaultAppItem != nullptr) defaultAppItem->SetMarked(prefers_this_app(file));
}

// The mark changes only when the file really took the change, so it never shows a setting
// the file does not hold (a file system without user attributes, say).
void TarnWin::TarnIsDefault(BMessage*) {
  BFile file(FieldText(view_names::kFile).c_str(), B_READ_WRITE);
  if (file.InitCheck() != B_OK || defaultAppItem == nullptr) {
    beep();
    return;
  }
  BNodeInfo info(&file);
  bool marked = defaultAppItem->IsMarked();
  if (info.SetPreferredApp(marked ? nullptr : kTarnSignature, B_OPEN) != B_OK) {
    beep();
    return;
  }
  defaultAppItem->SetMarked(!marked);
}
