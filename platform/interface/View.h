// Views: rectangles of a window, each shown by a Qt widget that the view places itself.
// Layout is the platform's own: when a view's size changes, each child keeps the distances
// its resizing mode names (no Qt layouts are used).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Looper.h"
#include "platform/Rect.h"

class BWindow;
class QWidget;

// Resizing modes: one hex digit per edge, from the most significant: top, left, bottom,
// right. Each names the parent edge that the view's edge keeps its distance to.
enum : uint32 {
  B_FOLLOW_NONE = 0,
  B_FOLLOW_TOP = 0x1010,
  B_FOLLOW_BOTTOM = 0x3030,
  B_FOLLOW_TOP_BOTTOM = 0x1030,
  B_FOLLOW_V_CENTER = 0x5050,
  B_FOLLOW_LEFT = 0x0202,
  B_FOLLOW_RIGHT = 0x0404,
  B_FOLLOW_LEFT_RIGHT = 0x0204,
  B_FOLLOW_H_CENTER = 0x0505,
  B_FOLLOW_ALL_SIDES = 0x1234,
};

enum : uint32 {
  B_WILL_DRAW = 0x20000000,
  B_PULSE_NEEDED = 0x10000000,
  B_NAVIGABLE = 0x02000000,
  B_FRAME_EVENTS = 0x04000000,
};

struct rgb_color {
  uint8_t red, green, blue, alpha;
};

// A frame moved by a parent's change of size, as the resizing mode says.
BRect follow_parent(const BRect& frame, uint32 resizingMode, float dw, float dh);

class BView : public BHandler {
 public:
  BView(BRect frame, const char* name, uint32 resizingMode, uint32 flags);
  // Reads "_name", "_frame", "_resize_mode", "_flags", "_color", "_fname", "_fflt", and makes
  // the archived children of "_views".
  explicit BView(BMessage* archive);
  ~BView() override;

  // Makes a view of the archive's "class"; null for a class this platform does not know.
  static BView* Instantiate(BMessage* archive);
  using Factory = std::function<BView*(BMessage*)>;
  static void Register(const char* className, Factory factory);

  virtual const char* ClassName() const { return "BView"; }

  void AddChild(BView* child);
  bool RemoveChild(BView* child);
  int32 CountChildren() const { return int32(children_.size()); }
  BView* ChildAt(int32 index) const;
  BView* Parent() const { return parent_; }
  BWindow* Window() const { return window_; }
  BView* FindView(const char* name);

  BRect Frame() const { return frame_; }
  BRect Bounds() const { return BRect(0, 0, frame_.Width(), frame_.Height()); }
  void MoveTo(float x, float y);
  void ResizeTo(float width, float height);
  void ResizeBy(float dw, float dh) { ResizeTo(frame_.Width() + dw, frame_.Height() + dh); }
  uint32 ResizingMode() const { return resizingMode_; }
  uint32 Flags() const { return flags_; }
  rgb_color ViewColor() const { return colors_[2]; }
  rgb_color HighColor() const { return colors_[0]; }
  rgb_color LowColor() const { return colors_[1]; }

  QWidget* Widget() const { return widget_; }

  // Called by the parent when its size changes by dw, dh.
  void ParentResized(float dw, float dh);

 protected:
  // Subclasses give the widget that shows them; the view owns it.
  BView(BMessage* archive, QWidget* widget);
  BView(BRect frame, const char* name, uint32 resizingMode, uint32 flags, QWidget* widget);
  // Called when the view has become part of a window.
  virtual void AttachedToWindow() {}
  void ApplyColors();

 private:
  friend class BWindow;
  void Init(QWidget* widget);
  void SetWindow(BWindow* window);
  void PlaceWidget();

  BRect frame_;
  uint32 resizingMode_ = B_FOLLOW_NONE;
  uint32 flags_ = 0;
  rgb_color colors_[3] = {{0, 0, 0, 255}, {255, 255, 255, 255}, {216, 216, 216, 255}};
  QWidget* widget_ = nullptr;
  BView* parent_ = nullptr;
  BWindow* window_ = nullptr;
  std::vector<BView*> children_;
};

// The platform's plain font for a view's archived font fields: "Swis721 BT" "Roman" becomes
// the desktop's plain sans-serif font, at the archived size in pixels (the old screens had 72
// dots to the inch, so 10 points were 10 pixels) times the archive scale.
void apply_archived_font(QWidget* widget, BMessage* archive);

// The archive scale: archived frames and font sizes are multiplied by it, so that a window
// designed for one text size keeps its proportions at the desktop's. Set by a window built
// from an archive that records the font size it was designed for; 1 otherwise. GUI thread only.
float archive_scale();
void set_archive_scale(float scale);
// A frame with every edge multiplied by scale, to whole pixels.
BRect scaled(const BRect& frame, float scale);
// The desktop's text size in pixels: its general font, in device-independent pixels.
float desktop_font_pixels();
