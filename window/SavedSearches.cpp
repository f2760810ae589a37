// The search window's saved searches: writing and reading the record, the current saved
// search, Save and Save As, and the Restore menu.
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>

#include "Commands.h"
#include "TarnWin.h"
#include "ViewNames.h"
#include "platform/AppDefs.h"
#include "platform/Directory.h"
#include "platform/File.h"
#include "platform/MimeType.h"
#include "platform/NodeInfo.h"
#include "platform/Path.h"
#include "platform/ReplaceFile.h"
#include "platform/interface/Application.h"
#include "platform/interface/Controls.h"
#include "platform/interface/FilePanel.h"
#include "platform/interface/Menu.h"
#include "platform/interface/NodeMonitor.h"
#include "window/SavedSearchList.h"
#include "saved/SavedSearch.h"

std::string TarnWin::FieldText(const char* view) const {
  auto* field = dynamic_cast<BTextControl*>(FindView(view));
  return field != nullptr ? field->Text() : "";
}

void TarnWin::SetFieldText(const char* view, const std::string& text) {
  if (auto* field = dynamic_cast<BTextControl*>(FindView(view))) field->SetText(text.c_str());
}

void TarnWin::SaveState(BMessage* record) {
  SearchState state;
  for (int32 i = 0; i < selectedTypes.CountItems(); ++i)
    state.types.push_back(static_cast<BMenuItem*>(selectedTypes.ItemAt(i))->Label());
  state.file = FieldText(view_names::kFile);
  state.folder = FieldText(view_names::kSearchDir);
  state.text = FieldText(view_names::kSearchFor);
  state.showPaths = showPathsItem != nullptr && showPathsItem->IsMarked();
  state.hasFrame = true;
  // The size is saved in the window archive's units, so that a saved search keeps its
  // proportions at any text size; the place is the screen's.
  BRect frame = Frame();
  state.frame = BRect(frame.left, frame.top, frame.left + std::round(frame.Width() / ArchiveScale()),
                      frame.top + std::round(frame.Height() / ArchiveScale()));
  add_record_fields(state, record);
}

// A write that fails is reported with a beep and does not make the file current.
void TarnWin::SaveStateToFile(BPath* path) {
  BMessage record(kRecordCode);
  SaveState(&record);
  if (path->Path() == nullptr || write_saved_search(path->Path(), record) != B_OK) {
    beep();
    return;
  }
  SetDefaultState(path);
}

bool TarnWin::RestoreState(BEntry* entry) {
  BMessage record;
  if (entry == nullptr || read_saved_search(*entry, &record) != B_OK) return false;
  BPath path(entry);
  if (path.InitCheck() != B_OK) return false;
  SetDefaultState(&path);
  SearchState state = read_record_fields(record);
  for (int32 i = 0; typesMenu != nullptr && i < typesMenu->CountItems(); ++i) {
    BMenuItem* item = typesMenu->ItemAt(i);
    if (IsTypeItem(item)) item->SetMarked(false);
  }
  selectedTypes.MakeEmpty();
  markSavedMimes(state.types);
  SetFieldText(view_names::kFile, state.file);
  SetFieldText(view_names::kSearchDir, state.folder);
  SetFieldText(view_names::kSearchFor, state.text);
  if (showPathsItem != nullptr) showPathsItem->SetMarked(state.showPaths);
  if (state.hasFrame) {
    // The window keeps its size limits, and a damaged frame cannot move it off every screen.
    MoveTo(state.frame.left, state.frame.top);
    ResizeTo(state.frame.Width() * ArchiveScale(), state.frame.Height() * ArchiveScale());
    FitOnScreen();  // saved on a larger screen, or at a smaller scale
  }
  return true;
}

bool TarnWin::SetDefaultState(BPath* path) {
  if (path == currentSearchPath) return true;  // saving in place changes nothing here
  delete currentSearchPath;
  currentSearchPath = new BPath(*path);
  // The result is not needed: without a settings file the next start restores nothing.
  write_settings(path->Path() ? path->Path() : "");
  SetTitle((std::string(kTitlePrefix) + (path->Leaf() ? path->Leaf() : "")).c_str());
  node_ref node;
  if (savedSearchDir != nullptr) {
    if (savedSearchDir->GetNodeRef(&node) == B_OK) watch_node(&node, B_STOP_WATCHING, BMessenger(this));
    delete savedSearchDir;
    savedSearchDir = nullptr;
  }
  BPath parent;
  if (path->GetParent(&parent) == B_OK) {
    savedSearchDir = new BDirectory(parent.Path());
    if (savedSearchDir->GetNodeRef(&node) == B_OK) watch_node(&node, B_WATCH_DIRECTORY, BMessenger(this));
  }
  MarkCurrentSavedSearch();
  InitSavedSearchMenu();
  return true;
}

bool TarnWin::LoadDefaultState() {
  std::string named;
  if (read_settings(&named) != B_OK) return false;
  BEntry entry(named.c_str(), false);
  if (entry.InitCheck() != B_OK) return false;
  return RestoreState(&entry);
}

void TarnWin::Save() {
  if (currentSearchPath != nullptr)
    SaveStateToFile(currentSearchPath);
  else
    InitSaveAs();
}

void TarnWin::InitSaveAs() {
  if (savePanel != nullptr && !savePanel->Window()->IsHidden()) savePanel->Window()->Activate(true);
  if (savePanel == nullptr) {
    BMessenger self(this);
    BMessage request(B_SAVE_REQUESTED);
    BEntry folder;
    entry_ref start;
    bool hasStart = savedSearchDir != nullptr && savedSearchDir->GetEntry(&folder) == B_OK &&
                    folder.GetRef(&start) == B_OK;
    savePanel = new BFilePanel(B_SAVE_PANEL, &self, hasStart ? &start : nullptr, B_FILE_NODE, false,
                               &request, nullptr, false, true);
  }
  if (savePanel->Window()->IsHidden()) savePanel->Window()->Show();
}

void TarnWin::SaveRequested(BMessage* message) {
  entry_ref folderRef;
  const char* name;
  if (message->FindRef("directory", &folderRef) != B_OK || message->FindString("name", &name) != B_OK)
    return;
  BDirectory folder(&folderRef);
  BFile file;
  // An existing file is not emptied here: the save replaces it only once the record is whole.
  status_t created = folder.CreateFile(name, &file, true);
  if (created != B_OK && created != B_FILE_EXISTS) return;  // nothing is written, nothing said
  BPath folderPath(&folderRef);
  BPath path(folderPath.Path(), name);
  SaveStateToFile(&path);
}

std::string TarnWin::SavedSearchFolder() const {
  BEntry folder;
  if (savedSearchDir == nullptr || savedSearchDir->GetEntry(&folder) != B_OK) return "";
  BPath path(&folder);
  return path.Path() != nullptr ? path.Path() : "";
}

// The folder is read on a thread of its own, since typing every entry of a large or busy
// folder would stall the window; changes that come while it reads are read in one more pass.
void TarnWin::InitSavedSearchMenu() {
  if (savedSearchDir == nullptr || restoreMenu == nullptr) return;
  if (savedSearchListing) {
    savedSearchRelist = true;
    return;
  }
  savedSearchListing = true;
  savedSearchRelist = false;
  listedFolder = SavedSearchFolder();
  try {
    std::thread([list = savedSearchList, folder = listedFolder, self = BMessenger(this)] {
      list->Relist(folder);
      self.SendMessage(command::kSavedSearchesListed);  // fails harmlessly once the window is gone
    }).detach();
  } catch (const std::system_error&) {  // no thread to be had: read it here
    savedSearchList->Relist(listedFolder);
    PostMessage(command::kSavedSearchesListed);
  }
}

void TarnWin::SavedSearchesListed(BMessage*) {
  SavedSearchList::Changes changes = savedSearchList->Take();
  for (const std::string& key : changes.removed) {
    auto shown = restoreItems.find(key);
    if (shown == restoreItems.end()) continue;
    delete restoreMenu->RemoveItem(restoreMenu->IndexOf(shown->second));
    restoreItems.erase(shown);
  }
  if (restoreMenu->CountItems() == 0) {
    restoreMenu->AddItem(new BMenuItem("Show Directory", new BMessage(command::kShowDirectory)));
    restoreMenu->AddSeparatorItem();
  }
  for (const entry_ref& ref : changes.added) {
    auto* message = new BMessage(B_REFS_RECEIVED);
    message->AddRef("refs", &ref);
    auto* item = new BMenuItem(ref.name, message);
    restoreMenu->AddItem(item);
    restoreItems[SavedSearchList::KeyOf(ref)] = item;
  }
  MarkCurrentSavedSearch();
  savedSearchListing = false;
  if (savedSearchRelist || listedFolder != SavedSearchFolder()) InitSavedSearchMenu();
}

void TarnWin::MarkCurrentSavedSearch() {
  const char* current = currentSearchPath != nullptr ? currentSearchPath->Leaf() : nullptr;
  for (int32 i = kFirstSavedSearchItem; restoreMenu != nullptr && i < restoreMenu->CountItems(); ++i) {
    BMenuItem* item = restoreMenu->ItemAt(i);
    bool mark = current != nullptr && strcmp(item->Label(), current) == 0;
    if (item->IsMarked() != mark) item->SetMarked(mark);  // a change redraws the menu
  }
}

void TarnWin::ShowSavedSearchDir() {
  BEntry folder;
  entry_ref ref;
  if (savedSearchDir == nullptr || savedSearchDir->GetEntry(&folder) != B_OK || folder.GetRef(&ref) != B_OK)
    return;
  BMessage message(B_REFS_RECEIVED);
  message.AddRef("refs", &ref);
  BMessenger(kFileManagerSignature).SendMessage(&message);  // whether one runs is not looked at
}
