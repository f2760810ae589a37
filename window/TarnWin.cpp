#include "TarnWin.h"

#include "Commands.h"
#include "ViewNames.h"
#include "platform/Directory.h"
#include "platform/Path.h"
#include "platform/interface/Alert.h"
#include "platform/interface/Application.h"
#include "platform/interface/FilePanel.h"
#include "platform/interface/ListView.h"
#include "platform/interface/Menu.h"

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
      {command::kOpenPanel, &TarnWin::ShowOpenPanel, false},
      {command::kSave, nullptr, true},
      {command::kSaveAs, nullptr, true},
      {command::kDefaultApp, nullptr, true},
      {command::kShowPaths, &TarnWin::ShowPaths, true},
      {command::kAbout, &TarnWin::ShowAbout, true},
      {command::kAllTypes, nullptr, true},
      {command::kNoTypes, nullptr, true},
      {command::kTypeItem, nullptr, true},
      {command::kShowDirectory, nullptr, true},
      {command::kSearch, nullptr, true},
      {command::kOpenFile, nullptr, true},
      {command::kFileChanged, nullptr, true},
      {command::kMatchInvoked, nullptr, true},
      {command::kMatchSelected, nullptr, false},
      {command::kSearchDirEdited, nullptr, false},
      {command::kSearchForEdited, nullptr, false},
      {B_SIMPLE_DATA, nullptr, true},
      {B_REFS_RECEIVED, nullptr, true},
      {B_SAVE_REQUESTED, nullptr, true},
      {B_NODE_MONITOR, nullptr, true},
  };
  return table;
}

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
  Unlock();
}

void TarnWin::AddMenuBar() {
  BView* background = FindView(view_names::kBackground);
  if (background == nullptr) return;  // the bar needs this view as its parent
  BRect bounds = Bounds();
  auto* bar = new BMenuBar(BRect(bounds.left, kBarTop, bounds.right - kBarRightInset, kBarBottom),
                           "MB", B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP, B_ITEMS_IN_ROW, true);
  bar->AddItem(MakeFileMenu());
  typesMenu = new BMenu("MIMEs", B_ITEMS_IN_COLUMN);
  bar->AddItem(typesMenu);
  restoreMenu = new BMenu("Restore", B_ITEMS_IN_COLUMN);
  bar->AddItem(restoreMenu);
  background->AddChild(bar);
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

TarnWin::~TarnWin() {
  if (auto* matches = dynamic_cast<BListView*>(FindView(view_names::kMatches)))
    while (matches->FirstItem() != nullptr) delete matches->RemoveItem(int32(0));
}

void TarnWin::DispatchMessage(BMessage* message, BHandler* handler) {
  for (const Command& command : CommandTable()) {
    if (command.code != message->what) continue;
    if (command.handler == nullptr) return;
    if (command.locks) Lock();
    (this->*command.handler)(message);
    if (command.locks) Unlock();
    return;
  }
  BWindow::DispatchMessage(message, handler);
}

bool TarnWin::QuitRequested() {
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
