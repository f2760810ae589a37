#include "TarnWin.h"

#include <algorithm>
#include <cmath>
#include <climits>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "Commands.h"
#include "EntryItem.h"
#include "ViewNames.h"
#include "platform/AsciiFold.h"
#include "platform/Directory.h"
#include "platform/FindDirectory.h"
#include "platform/MimeType.h"
#include "platform/Path.h"
#include "platform/TextTypes.h"
#include "platform/interface/Alert.h"
#include "platform/Roster.h"
#include "platform/interface/Application.h"
#include "platform/interface/Controls.h"
#include "platform/interface/FilePanel.h"
#include "platform/interface/ListView.h"
#include "platform/interface/Menu.h"
#include "platform/interface/NodeMonitor.h"
#include "search/Documents.h"
#include "search/Search.h"

namespace {

constexpr const char kAboutText[] =
    "Tarnwickloft 0.1\n\n"
    "Finds, under a folder, every file whose contents contain a text, ignoring letter case, "
    "among the files of the chosen types.";

// The menu bar's place in V_Background, from the window's bounds.
constexpr float kBarTop = 2, kBarBottom = 18, kBarRightInset = 12;

}  // namespace

std::span<const TarnWin::Command> TarnWin::CommandTable() {
  static const Command table[] = {
      {command::kOpenPanel, &TarnWin::ShowOpenPanel, false, true},
      {command::kSave, &TarnWin::SaveCommand, true, true},
      {command::kSaveAs, &TarnWin::SaveAsCommand, true, true},
      {command::kDefaultApp, &TarnWin::TarnIsDefault, true, true},
      {command::kShowPaths, &TarnWin::ShowPaths, true, true},
      {command::kAbout, &TarnWin::ShowAbout, true, true},
      {command::kAllTypes, &TarnWin::MarkAllTypes, true, true},
      {command::kNoTypes, &TarnWin::MarkNoTypes, true, true},
      {command::kTypeItem, &TarnWin::MimeSelected, true, true},
      {command::kShowDirectory, &TarnWin::ShowDirectoryCommand, true, true},
      {command::kSearch, &TarnWin::SearchButton, true, false},
      {command::kOpenFile, &TarnWin::OpenFile, true, true},
      {command::kFileChanged, &TarnWin::SearchFileChanged, true, true},
      {command::kMatchInvoked, &TarnWin::OpenMatch, true, false},
      {command::kMatchSelected, nullptr, false, false},
      {command::kSearchDirEdited, nullptr, false, false},
      {command::kSearchForEdited, nullptr, false, false},
      {B_SIMPLE_DATA, &TarnWin::RefsCommand, true, true},
      {B_REFS_RECEIVED, &TarnWin::RefsCommand, true, true},
      {B_SAVE_REQUESTED, &TarnWin::SaveRequested, true, true},
      {B_NODE_MONITOR, &TarnWin::FolderChanged, true, false},
      {command::kSavedSearchesListed, &TarnWin::SavedSearchesListed, true, false},
      {command::kSearchNews, &TarnWin::SearchNews, true, false},
      {command::kStopSearch, &TarnWin::StopCommand, true, false},
      {command::kReplayWaiting, &TarnWin::ReplayWaiting, true, false},
  };
  return table;
}

// Type items are told from "All", "None" and the separator by their label: a text type's, or a
// document type's.
bool TarnWin::IsTypeItem(const BMenuItem* item) {
  return IsTextTypeItem(item) || document_kind_of(item->Label()) != DocumentKind::kNone;
}

// "All" marks these: the items whose label starts with "text".
bool TarnWin::IsTextTypeItem(const BMenuItem* item) { return f_match(item->Label(), "text"); }

TarnWin::TarnWin(BMessage* archive) : BWindow(archive), selectedTypes(20) {
  Lock();
  openPanel = nullptr;
  savePanel = nullptr;
  typesMenu = nullptr;
  restoreMenu = nullptr;
  defaultAppItem = nullptr;
  showPathsItem = nullptr;
  savedSearchDir = nullptr;
  currentSearchPath = nullptr;
  if (auto* matches = dynamic_cast<BListView*>(FindView(view_names::kMatches))) {
    matches->SetInvocationMessage(new BMessage(command::kMatchInvoked));
    matches->SetSelectionMessage(new BMessage(command::kMatchSelected));
  }
  AddMenuBar();
  // Tab goes as the eye does: the example file, the folder, the text, "Search", the matches.
  SetTabOrder({FindView(view_names::kOpenFile), FindView(view_names::kFile), FindView(view_names::kSearchDir),
               FindView(view_names::kSearchFor), FindView(view_names::kSearch), Matches()});
  StartInHomeFolder();
  LoadDefaultState();  // the result is not needed: without a saved search the window stays as built
  FitOnScreen();  // the archive's frame, on a small screen or at a large scale
  Unlock();
}

// The archive names a folder of another system, which exists nowhere here: a first search
// then looks in the home folder. A saved search or a drop sets the folder as before.
void TarnWin::StartInHomeFolder() {
  BPath home;
  if (BDirectory(FieldText(view_names::kSearchDir).c_str()).InitCheck() == B_OK ||
      find_directory(B_USER_DIRECTORY, &home) != B_OK)
    return;
  SetFieldText(view_names::kSearchDir, home.Path());
}

void TarnWin::AddMenuBar() {
  BView* background = FindView(view_names::kBackground);
  if (background == nullptr) return;  // the bar needs this view as its parent
  BRect bounds = Bounds();
  float scale = ArchiveScale();  // the bar's place is in the archive's units, like the views'
  auto* bar = new BMenuBar(BRect(bounds.left, std::round(kBarTop * scale), bounds.right - std::round(kBarRightInset * scale),
                                 std::round(kBarBottom * scale)),
                           "MB", B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP, B_ITEMS_IN_ROW, true);
  bar->AddItem(MakeFileMenu());
  typesMenu = MakeTypesMenu();
  bar->AddItem(typesMenu);
  restoreMenu = new BMenu("Restore", B_ITEMS_IN_COLUMN);
  bar->AddItem(restoreMenu);
  background->AddChild(bar);
  MakeRoomForTheBar(background, bar);
}

// The archive's bar is 17 of its units high; a style that draws its titles taller (Adwaita) would
// hide them behind an overflow button. The bar then takes the height the style asks for, and
// the window grows by the difference, everything below the bar moving down by it.
void TarnWin::MakeRoomForTheBar(BView* background, BMenuBar* bar) {
  float grow = bar->PreferredHeight() - (bar->Frame().Height() + 1);
  if (grow <= 0) return;
  std::vector<std::pair<BView*, BRect>> below;
  for (int32 i = 0; i < background->CountChildren(); ++i)
    if (BView* view = background->ChildAt(i); view != bar) below.emplace_back(view, view->Frame());
  bar->ResizeTo(bar->Frame().Width(), bar->Frame().Height() + grow);
  float minWidth, maxWidth, minHeight, maxHeight;
  GetSizeLimits(&minWidth, &maxWidth, &minHeight, &maxHeight);
  SetSizeLimits(minWidth, maxWidth, minHeight + grow, maxHeight + grow);
  ResizeTo(Bounds().Width(), Bounds().Height() + grow);
  for (auto& [view, frame] : below) {
    view->MoveTo(frame.left, frame.top + grow);
    view->ResizeTo(frame.Width(), frame.Height());
  }
}

BMenu* TarnWin::MakeFileMenu() {
  auto* menu = new BMenu("File", B_ITEMS_IN_COLUMN);
  menu->AddItem(new BMenuItem("Open...", new BMessage(command::kOpenPanel), 'O'));
  menu->AddItem(new BMenuItem("Save", new BMessage(command::kSave), 'S'));
  menu->AddItem(new BMenuItem("Save As...", new BMessage(command::kSaveAs), 'A'));
  menu->AddSeparatorItem();
  defaultAppItem = new BMenuItem("Tarnwickloft is Default", new BMessage(command::kDefaultApp), 'D');
  menu->AddItem(defaultAppItem);
  showPathsItem = new BMenuItem("Show Paths", new BMessage(command::kShowPaths), 'P');
  menu->AddItem(showPathsItem);
  menu->AddSeparatorItem();
  menu->AddItem(new BMenuItem("About Tarnwickloft", new BMessage(command::kAbout)));
  menu->AddSeparatorItem();
  menu->AddItem(new BMenuItem("Close", new BMessage(B_QUIT_REQUESTED), 'W'));
  return menu;
}

// "All", "None", a separator, one item per installed text type, in the platform's order, and
// one per installed document type; the HTML types start selected.
BMenu* TarnWin::MakeTypesMenu() {
  auto* menu = new BMenu("MIMEs", B_ITEMS_IN_COLUMN);
  menu->SetStaysOpen(true);  // several types are ticked in one opening
  menu->AddItem(new BMenuItem("All", new BMessage(command::kAllTypes), 'A', B_SHIFT_KEY));
  menu->AddItem(new BMenuItem("None", new BMessage(command::kNoTypes), 'N', B_SHIFT_KEY));
  menu->AddSeparatorItem();
  BMessage installed(command::kTypeItem);
  type_code type;
  int32 count = 0;
  if (BMimeType::GetInstalledTypes("text", &installed) != B_OK ||
      installed.GetInfo("types", &type, &count) != B_OK)
    return menu;
  for (int32 i = 0; i < count; ++i) {
    const char* name;
    if (installed.FindString("types", i, &name) != B_OK || *name == '\0') continue;
    auto* item = new BMenuItem(name, new BMessage(command::kTypeItem));
    menu->AddItem(item);
    if (f_match(name, "text/html")) {
      item->SetMarked(true);
      selectedTypes.AddItem(item);
    }
  }
  AddDocumentTypes(menu);
  return menu;
}

// The document types the MIME database knows, searched by their text.
void TarnWin::AddDocumentTypes(BMenu* menu) {
  BMessage installed;
  if (BMimeType::GetInstalledTypes("application", &installed) != B_OK) return;
  std::unordered_set<std::string> known;
  const char* name;
  for (int32 i = 0; installed.FindString("types", i, &name) == B_OK; ++i) known.insert(ascii::folded(name));
  for (const std::string& type : document_type_names())
    if (known.count(ascii::folded(type)) > 0) menu->AddItem(new BMenuItem(type.c_str(), new BMessage(command::kTypeItem)));
}

void TarnWin::MimeSelected(BMessage* message) {
  void* source = nullptr;
  if (message->FindPointer("source", &source) != B_OK) return;  // dragged data, not an item
  auto* item = static_cast<BMenuItem*>(source);
  if (item->IsMarked()) {
    item->SetMarked(false);
    selectedTypes.RemoveItem(static_cast<void*>(item));
  } else {
    item->SetMarked(true);
    selectedTypes.AddItem(item);
  }
}

namespace {

// The type items of a menu by the names that select them. A type selects the first item whose
// label is the same ignoring case, or names the same database type (application/x-shellscript
// is text/x-sh), as BMimeType compares types; an invalid type selects none. Built once, it
// answers each type with two lookups instead of a pass over the menu.
class TypeItemIndex {
 public:
  TypeItemIndex(const BMenu& menu, bool (*isTypeItem)(const BMenuItem*)) : menu_(menu) {
    for (int32 i = menu.CountItems() - 1; i >= 0; --i) {  // backwards, so the first item wins
      const char* label = menu.ItemAt(i)->Label();
      if (!isTypeItem(menu.ItemAt(i)) || !BMimeType::IsValid(label)) continue;
      byLabel_[ascii::folded(label)] = i;
      byDatabaseType_[ascii::folded(database_type_of(label))] = i;
    }
  }

  BMenuItem* Find(const char* type) const {
    if (type == nullptr || !BMimeType::IsValid(type)) return nullptr;
    int32 first = INT32_MAX;
    if (auto it = byLabel_.find(ascii::folded(type)); it != byLabel_.end()) first = it->second;
    if (auto it = byDatabaseType_.find(ascii::folded(database_type_of(type))); it != byDatabaseType_.end())
      first = std::min(first, it->second);
    return first == INT32_MAX ? nullptr : menu_.ItemAt(first);
  }

 private:
  const BMenu& menu_;
  std::unordered_map<std::string, int32> byLabel_, byDatabaseType_;
};

}  // namespace

// Only type items are candidates: a type string that reads like "All" must not put a command
// item into the list, and from there into saved searches.
bool TarnWin::markMime(const BMimeType& type) {
  BMenuItem* item = typesMenu != nullptr ? TypeItemIndex(*typesMenu, IsTypeItem).Find(type.Type()) : nullptr;
  if (item == nullptr) return false;
  item->SetMarked(true);
  selectedTypes.AddItem(item);
  return true;
}

// A saved search's types, marked in its order as markMime marks each, from one index: a record
// naming many types costs time linear in its size.
void TarnWin::markSavedMimes(const std::vector<std::string>& types) {
  if (typesMenu == nullptr) return;
  TypeItemIndex index(*typesMenu, IsTypeItem);
  for (const std::string& type : types) {
    if (BMenuItem* item = index.Find(type.c_str())) {
      item->SetMarked(true);
      selectedTypes.AddItem(item);
    }
  }
}

// "All" marks the text types, "None" unmarks every type.
void TarnWin::markMimes(bool mark) {
  for (int32 i = 0; typesMenu != nullptr && i < typesMenu->CountItems(); ++i) {
    BMenuItem* item = typesMenu->ItemAt(i);
    if (!(mark ? IsTextTypeItem(item) : IsTypeItem(item))) continue;
    item->SetMarked(mark);
    if (mark && !selectedTypes.HasItem(item)) selectedTypes.AddItem(item);
  }
  if (!mark) selectedTypes.MakeEmpty();
}

// Besides the result items, the window deletes what it made on the heap: the panels, the
// saved-search folder (dropping its watch) and the current path.
TarnWin::~TarnWin() {
  if (search_ != nullptr) search_->Stop();
  EmptyMatches();
  delete openPanel;
  delete savePanel;
  node_ref node;
  if (savedSearchDir != nullptr && savedSearchDir->GetNodeRef(&node) == B_OK)
    watch_node(&node, B_STOP_WATCHING, BMessenger(this));
  delete savedSearchDir;
  delete currentSearchPath;
}

BListView* TarnWin::Matches() const {
  return dynamic_cast<BListView*>(FindView(view_names::kMatches));
}

// The window owns the result items: whoever takes one out of the list deletes it.
void TarnWin::EmptyMatches() {
  if (BListView* matches = Matches())
    while (matches->FirstItem() != nullptr) delete matches->RemoveItem(int32(0));
}

void TarnWin::SearchButton(BMessage*) {
  if (search_ != nullptr) {
    StopSearch();
    return;
  }
  SearchRun::Inputs inputs{FieldText(view_names::kSearchDir), FieldText(view_names::kSearchFor), {}};
  if (BDirectory(inputs.folder.c_str()).InitCheck() != B_OK) {
    beep();  // the matches of the last search stay on show
    return;
  }
  EmptyMatches();
  searchedTypes_.clear();
  for (int32 i = 0; i < selectedTypes.CountItems(); ++i) {
    searchedTypes_.push_back(static_cast<BMenuItem*>(selectedTypes.ItemAt(i)));
    inputs.types.push_back(searchedTypes_.back()->Label());
  }
  searchedText_ = std::make_shared<const std::string>(inputs.text);
  searchedPaths_ = showPathsItem != nullptr && showPathsItem->IsMarked();
  idleTitle_ = Title();
  progressShown_ = {};
  search_ = SearchRun::Start(std::move(inputs), BMessenger(this), command::kSearchNews);
  // The list and the button stay live; the rest of the window's input waits for the end.
  if (auto* button = dynamic_cast<BButton*>(FindView(view_names::kSearch))) button->SetLabel("Stop");
  HoldInput({FindView(view_names::kMatchesScroll), FindView(view_names::kSearch)}, command::kStopSearch);
}

void TarnWin::SearchNews(BMessage*) {
  if (search_ == nullptr) return;  // news of a search stopped since
  SearchRun::News news = search_->Take();
  ShowNews(news);
  if (news.ended) EndSearch();
}

// What was found up to now stays, and so does the type order as far as the walk went.
void TarnWin::StopSearch() {
  if (search_ == nullptr) return;
  search_->Stop();
  SearchRun::News news = search_->Take();
  ShowNews(news);
  EndSearch();
}

void TarnWin::ShowNews(SearchRun::News& news) {
  BListView* matches = Matches();
  for (const entry_ref& ref : news.matches) {
    BPath path = searchedPaths_ ? f_get_path(ref) : BPath();
    // A match whose path cannot be found any more is shown by its name.
    const char* label = path.Path() != nullptr ? path.Path() : ref.name;
    if (matches != nullptr) {
      auto* item = new EntryItem(ref, label);
      item->SetSearchText(searchedText_);
      matches->AddItem(item);
    }
  }
  if (news.typeFront >= 0 && size_t(news.typeFront) < searchedTypes_.size()) {
    selectedTypes.MakeEmpty();
    for (size_t i = 0; i < searchedTypes_.size(); ++i)
      selectedTypes.AddItem(searchedTypes_[(size_t(news.typeFront) + i) % searchedTypes_.size()]);
  }
  if (!news.ended) ShowProgress(news);
}

namespace {

// 12345 as "12,345".
std::string with_thousands(int64 number) {
  std::string digits = std::to_string(number);
  for (int i = int(digits.size()) - 3; i > 0; i -= 3) digits.insert(size_t(i), ",");
  return digits;
}

std::string counted(int64 number, const char* one, const char* many) {
  return with_thousands(number) + " " + (number == 1 ? one : many);
}

}  // namespace

// In the title, where the window has room; a few times a second, not for every batch.
void TarnWin::ShowProgress(const SearchRun::News& news) {
  constexpr std::chrono::milliseconds kEvery{100};
  auto now = std::chrono::steady_clock::now();
  if (now - progressShown_ < kEvery) return;
  progressShown_ = now;
  SetTitle(("Searching… " + counted(news.files, "file", "files") + ", " +
            counted(news.matched, "match", "matches")).c_str());
}

void TarnWin::EndSearch() {
  search_.reset();
  searchedTypes_.clear();
  SetTitle(idleTitle_.c_str());
  if (auto* button = dynamic_cast<BButton*>(FindView(view_names::kSearch))) button->SetLabel("Search");
  ReleaseInput();
  if (!waiting_.empty()) PostMessage(command::kReplayWaiting);
}

// One waiting command per message, so that each runs from the event loop as it would have.
void TarnWin::ReplayWaiting(BMessage*) {
  if (search_ != nullptr || waiting_.empty()) return;  // a search began again; its end replays
  std::unique_ptr<BMessage> next = std::move(waiting_.front());
  waiting_.pop_front();
  auto command = std::find_if(CommandTable().begin(), CommandTable().end(),
                              [&](const Command& row) { return row.code == next->what; });
  if (command != CommandTable().end())
    RunCommand(*command, next.get());
  else
    BWindow::DispatchMessage(next.get(), this);  // a close that came after the commands
  if (search_ == nullptr && !waiting_.empty()) PostMessage(command::kReplayWaiting);
}

void TarnWin::OpenMatch(BMessage* message) {
  int32 index;
  if (message->FindInt32("index", &index) != B_OK || index < 0) return;
  BListView* matches = Matches();
  // An index past the list names no match: nothing to open and nothing to report.
  auto* item = matches != nullptr ? dynamic_cast<EntryItem*>(matches->ItemAt(index)) : nullptr;
  if (item == nullptr) return;
  entry_ref ref = item->EntryRef();
  if (be_roster->Launch(&ref) != B_OK) beep();
}

void TarnWin::DispatchMessage(BMessage* message, BHandler* handler) {
  for (const Command& command : CommandTable()) {
    if (command.code != message->what) continue;
    if (command.waits && command.handler != nullptr && (search_ != nullptr || !waiting_.empty()))
      waiting_.push_back(std::make_unique<BMessage>(*message));
    else
      RunCommand(command, message);
    return;
  }
  BWindow::DispatchMessage(message, handler);
}

void TarnWin::RunCommand(const Command& command, BMessage* message) {
  if (command.handler == nullptr) return;
  if (command.locks) Lock();
  (this->*command.handler)(message);
  if (command.locks) Unlock();
}

// Closing stops a search at once; what was typed, chosen or dropped before the close still
// runs first, in order, and the close comes after it.
bool TarnWin::QuitRequested() {
  if (search_ != nullptr) {
    StopSearch();
    PostAfterInput(B_QUIT_REQUESTED);
    return false;
  }
  if (!waiting_.empty()) {
    waiting_.push_back(std::make_unique<BMessage>(B_QUIT_REQUESTED));
    return false;
  }
  be_app->PostMessage(B_QUIT_REQUESTED);  // the application ends with its window
  return true;
}

void TarnWin::ShowPaths(BMessage*) { showPathsItem->SetMarked(!showPathsItem->IsMarked()); }

// One open panel for the window's life: shown again, or brought to the front, each time.
void TarnWin::ShowOpenPanel(BMessage*) {
  if (openPanel == nullptr) {
    BMessenger self(this);
    BMessage request(B_REFS_RECEIVED);
    openPanel = new BFilePanel(B_OPEN_PANEL, &self, nullptr, B_FILE_NODE | B_DIRECTORY_NODE, false,
                               &request, nullptr, false, true);
  } else if (!openPanel->Window()->IsHidden()) {
    openPanel->Window()->Activate(true);
  }
  if (openPanel->Window()->IsHidden()) openPanel->Window()->Show();
}

// Waits for "OK": the command table returns, and the next message is taken, only afterwards.
void TarnWin::ShowAbout(BMessage*) {
  (new BAlert("", kAboutText, "OK", nullptr, nullptr, B_WIDTH_AS_USUAL, B_INFO_ALERT))->Go();
}
