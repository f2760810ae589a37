// The search window: built from the archived window in the application's resources, with the
// menu bar added in code, and the command table that routes every message to its handler.
#pragma once

#include <chrono>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Entry.h"
#include "platform/List.h"
#include "platform/interface/Window.h"
#include "window/SavedSearchList.h"
#include "window/SearchRun.h"

class BDirectory;
class BEntry;
class BFilePanel;
class BListView;
class BMenu;
class BMenuBar;
class BMenuItem;
class BMimeType;
class BNode;
class BPath;

class TarnWin : public BWindow {
 public:
  explicit TarnWin(BMessage* archive);
  ~TarnWin() override;

  void DispatchMessage(BMessage* message, BHandler* handler) override;
  bool QuitRequested() override;

  void ShowPaths(BMessage* message);
  // Searches the folder of "Search Dir:" for the text of "Search For:", listing the matches as
  // they are found; during a search, stops it.
  void SearchButton(BMessage* message);
  bool IsSearching() const { return search_ != nullptr; }
  // Opens the match whose index the message holds, in the application for its type.
  void OpenMatch(BMessage* message);

  // The "MIMEs" menu and the selected type list.
  void MimeSelected(BMessage* message);
  bool markMime(const BMimeType& type);
  void markMimes(bool mark);
  void markSavedMimes(const std::vector<std::string>& types);
  void MakeRoomForTheBar(BView* background, BMenuBar* bar);

  // Entries from drops, the Open panel, the Restore menu and the application: a saved search
  // is restored, a folder becomes the search folder, any other file the example file.
  virtual void RefsReceived(BMessage* message);
  // The example file of "File:": opened in the application for its type, and whether this
  // application is its own preferred application.
  void OpenFile(BMessage* message);
  void SearchFileChanged(BMessage* message);
  void TarnIsDefault(BMessage* message);

  // Saved searches: the record, the current saved search, Save and Save As, and the Restore
  // menu that follows the saved-search folder.
  void SaveState(BMessage* record);
  bool RestoreState(BEntry* entry);
  void SaveStateToFile(BPath* path);
  bool SetDefaultState(BPath* path);
  bool LoadDefaultState();
  void Save();
  void InitSaveAs();
  void SaveRequested(BMessage* message);
  // Lists the saved-search folder into the Restore menu, off the window's thread: the menu
  // changes when the listing arrives.
  void InitSavedSearchMenu();
  void SavedSearchesListed(BMessage* message);
  void ShowSavedSearchDir();

  // One row of the command table. A row without a handler takes its code and does nothing,
  // so the code never reaches BWindow::DispatchMessage. A command that waits, during a search,
  // runs after it, in the order the commands came: it could change what is searched or shown.
  struct Command {
    uint32 code;
    void (TarnWin::*handler)(BMessage*);
    bool locks;
    bool waits;
  };
  static std::span<const Command> CommandTable();

  BList selectedTypes;
  BFilePanel* openPanel;
  BFilePanel* savePanel;
  BMenu* typesMenu;
  BMenu* restoreMenu;
  BMenuItem* defaultAppItem;
  BMenuItem* showPathsItem;
  BDirectory* savedSearchDir;
  BPath* currentSearchPath;
  // The Restore menu's items by the entry they restore, and the listing that feeds them.
  std::shared_ptr<SavedSearchList> savedSearchList = std::make_shared<SavedSearchList>();
  std::unordered_map<std::string, BMenuItem*> restoreItems;
  std::string listedFolder;                 // the folder of the listing under way or last done
  bool savedSearchListing = false;  // a listing is under way
  bool savedSearchRelist = false;   // the folder changed while it was listed

 private:
  static bool IsTypeItem(const BMenuItem* item);
  static bool IsTextTypeItem(const BMenuItem* item);
  void AddDocumentTypes(BMenu* menu);
  void ShowOpenPanel(BMessage* message);
  void EmptyMatches();
  void TakeExampleFile(BEntry& entry, BNode& node, const char* type);
  void TakeFolder(BEntry& entry);
  void ForgetSavedSearch();
  void RefsCommand(BMessage* message) { RefsReceived(message); }
  BListView* Matches() const;
  void ShowAbout(BMessage* message);
  void AddMenuBar();
  void StartInHomeFolder();
  BMenu* MakeFileMenu();
  BMenu* MakeTypesMenu();
  void SaveCommand(BMessage*) { Save(); }
  void SaveAsCommand(BMessage*) { InitSaveAs(); }
  void ShowDirectoryCommand(BMessage*) { ShowSavedSearchDir(); }
  void FolderChanged(BMessage*) { InitSavedSearchMenu(); }
  std::string SavedSearchFolder() const;
  void MarkCurrentSavedSearch();
  static constexpr int32 kFirstSavedSearchItem = 2;  // after "Show Directory" and a separator
  void SetFieldText(const char* view, const std::string& text);
  std::string FieldText(const char* view) const;
  void RunCommand(const Command& command, BMessage* message);
  void StopSearch();
  void StopCommand(BMessage*) { StopSearch(); }
  void SearchNews(BMessage*);
  void ShowNews(SearchRun::News& news);
  void ShowProgress(const SearchRun::News& news);
  void EndSearch();
  void ReplayWaiting(BMessage*);
  void MarkAllTypes(BMessage*) { markMimes(true); }
  void MarkNoTypes(BMessage*) { markMimes(false); }

  // The search under way, and what it was started with.
  std::shared_ptr<SearchRun> search_;
  std::vector<BMenuItem*> searchedTypes_;            // selectedTypes at the start
  std::shared_ptr<const std::string> searchedText_;  // for the items' tooltips
  bool searchedPaths_ = false;                       // "Show Paths" at the start
  std::string idleTitle_;                            // the title to go back to
  std::chrono::steady_clock::time_point progressShown_;
  // Commands that came during a search, to run after it in order.
  std::deque<std::unique_ptr<BMessage>> waiting_;
};
