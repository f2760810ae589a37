// Open and save panels, shown as non-modal Qt file dialogs that answer with messages.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Looper.h"

struct entry_ref;
class QFileDialog;

enum file_panel_mode { B_OPEN_PANEL, B_SAVE_PANEL };
enum : uint32 { B_FILE_NODE = 1, B_SYMLINK_NODE = 2, B_DIRECTORY_NODE = 4 };

class BFilePanel {
 public:
  // The open panel sends its message (B_REFS_RECEIVED when none is given) with the chosen
  // entries as "refs"; the save panel sends its message (B_SAVE_REQUESTED) with the folder as
  // the ref "directory" and the file name as the string "name". Without a start folder the
  // panel starts in the user's home folder. The filter is not used on this platform.
  BFilePanel(file_panel_mode mode = B_OPEN_PANEL, BMessenger* target = nullptr,
             const entry_ref* directory = nullptr, uint32 nodeFlavors = 0,
             bool allowMultipleSelection = true, BMessage* message = nullptr, void* filter = nullptr,
             bool modal = false, bool hideWhenDone = true);
  ~BFilePanel();

  // The panel's window, as far as its callers need one.
  class PanelWindow {
   public:
    explicit PanelWindow(QFileDialog* dialog) : dialog_(dialog) {}
    bool IsHidden() const;
    void Activate(bool active = true);
    void Show();
    void Hide();

   private:
    QFileDialog* dialog_;
  };

  void Show() { window_.Show(); }
  void Hide() { window_.Hide(); }
  bool IsShowing() const { return !window_.IsHidden(); }
  PanelWindow* Window() { return &window_; }
  file_panel_mode PanelMode() const { return mode_; }

  void SetTarget(BMessenger target) { target_ = target; }
  void SetMessage(BMessage* message);
  void SetPanelDirectory(const char* folder);
  void SetPanelDirectory(const entry_ref* folder);
  void SetSaveText(const char* text);
  QFileDialog* Dialog() const { return dialog_.get(); }

 private:
  void Chosen(const std::vector<std::string>& paths);

  file_panel_mode mode_;
  BMessenger target_;
  std::unique_ptr<BMessage> message_;
  std::unique_ptr<QFileDialog> dialog_;
  PanelWindow window_;
  bool hideWhenDone_;
};
