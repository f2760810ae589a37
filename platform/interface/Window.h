// A window: a looper with a tree of views, shown as a top-level Qt widget. Windows are built
// from archives; their size stays within the archived limits and their views follow their
// resizing modes.
#pragma once

#include <initializer_list>
#include <memory>
#include <vector>

#include "Looper.h"
#include "View.h"

class BButton;
class QEvent;
class QObject;
class QWidget;
class WindowWidget;

class BWindow : public BLooper {
 public:
  // Reads "_title", "_name", "_frame", "_sizel" (minimum width, minimum height, maximum
  // width, maximum height) and makes the archived views of "_views". The window starts hidden.
  explicit BWindow(BMessage* archive);
  ~BWindow() override;

  void AddChild(BView* view);
  BView* FindView(const char* name) const;
  int32 CountChildren() const { return int32(views_.size()); }
  BView* ChildAt(int32 index) const;

  // Bounds are (0, 0, width, height); like frames they include their right and bottom edges,
  // so a window of width 273 is 274 pixels wide.
  BRect Bounds() const { return BRect(0, 0, width_, height_); }
  // Where the window stands on screen (where a window manager frames it, the top left of that
  // frame, the same point MoveTo takes), with the size of its content area.
  BRect Frame() const;
  // What the archive's frames and font sizes were multiplied by: the desktop's font size over
  // the one the archive was designed for ("designfsize"), between kSmallestScale and
  // kLargestScale; 1 for an archive without one.
  float ArchiveScale() const { return scale_; }
  static constexpr float kSmallestScale = 0.5f, kLargestScale = 4;
  void MoveTo(float x, float y);
  void ResizeTo(float width, float height);
  // Brings the window, with the frame the window manager gives it once shown, within the free
  // area of the screen it stands on: smaller first, where its size limits allow, then moved.
  void FitOnScreen();
  void SetSizeLimits(float minWidth, float maxWidth, float minHeight, float maxHeight);
  void GetSizeLimits(float* minWidth, float* maxWidth, float* minHeight, float* maxHeight) const;
  void SetTitle(const char* title);
  const char* Title() const { return title_.c_str(); }

  void Activate(bool active = true);
  bool IsHidden() const { return hidden_; }
  virtual void Show();
  virtual void Hide();
  // Closes the window and deletes it (after the running handler, when called from one).
  void Quit() override;

  // DispatchMessage is the looper's: B_QUIT_REQUESTED asks QuitRequested and quits on true;
  // anything else goes to the handler's MessageReceived.

  void SetDefaultButton(BButton* button) { defaultButton_ = button; }
  // The order in which Tab moves the focus through these views (missing ones left out).
  void SetTabOrder(std::initializer_list<BView*> views);
  BButton* DefaultButton() const { return defaultButton_; }
  // Presses the default button, as Enter in a text field does.
  void InvokeDefaultButton();

  // Holds the user's input to the application's windows until ReleaseInput, while work the
  // window started runs elsewhere: the window keeps painting and answering the window system,
  // and keys, clicks, close requests and what drops ask for wait, to be handled afterwards in
  // the order they came (HeldInput.h). Except, in this window: the views in live stay usable
  // (clicks, the wheel, the pointer's moves, and keys while one of them has the focus); the
  // close box asks the window to quit at once; Escape posts escape to the window. The
  // pointer's moves with no button down go on everywhere. Holding again changes the views.
  void HoldInput(std::vector<BView*> live, uint32 escape);
  void ReleaseInput();
  bool IsHoldingInput() const { return hold_ != nullptr; }
  // Posts the message to the window once the input that came before it has been handed over.
  void PostAfterInput(uint32 what);

  QWidget* Widget() const;
  // The window shown by a top-level widget, or null.
  static BWindow* ForWidget(QWidget* widget);

 private:
  void SetArchiveScale(BMessage* archive);
  class LiveInput;
  friend class WindowWidget;
  void ContentResized(float width, float height);

  std::string title_;
  WindowWidget* widget_;
  std::vector<BView*> views_;
  float scale_ = 1;  // see ArchiveScale
  float width_ = 0, height_ = 0;
  float minWidth_ = 0, maxWidth_ = 32768, minHeight_ = 0, maxHeight_ = 32768;
  bool hidden_ = true;
  bool closing_ = false;
  BButton* defaultButton_ = nullptr;
  std::unique_ptr<LiveInput> hold_;  // while input is held: the hold and what passes it
};
