// A scroll view: a bordered frame around a target view and its archived scroll bars, which
// scroll the target.
#pragma once

#include "View.h"

class QScrollBar;

enum orientation { B_HORIZONTAL, B_VERTICAL };

class BScrollBar : public BView {
 public:
  // Reads "_orient", "_range", "_steps" and "_val".
  explicit BScrollBar(BMessage* archive);
  const char* ClassName() const override { return "BScrollBar"; }
  orientation Orientation() const { return orientation_; }
  QScrollBar* Bar() const { return bar_; }

 private:
  orientation orientation_;
  QScrollBar* bar_;
};

class BScrollView : public BView {
 public:
  explicit BScrollView(BMessage* archive);
  const char* ClassName() const override { return "BScrollView"; }
  BView* Target() const { return target_; }
  BScrollBar* ScrollBar(orientation which) const;

 private:
  void Link(BScrollBar* bar);

  BView* target_ = nullptr;
  BScrollBar* bars_[2] = {nullptr, nullptr};
};
