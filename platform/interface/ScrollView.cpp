#include "ScrollView.h"

#include <QAbstractScrollArea>
#include <QFrame>
#include <QScrollBar>

BScrollBar::BScrollBar(BMessage* archive)
    : BView(archive, new QScrollBar), bar_(static_cast<QScrollBar*>(Widget())) {
  int32 orient = B_VERTICAL;
  archive->FindInt32("_orient", &orient);
  orientation_ = orient == B_HORIZONTAL ? B_HORIZONTAL : B_VERTICAL;
  bar_->setOrientation(orientation_ == B_HORIZONTAL ? Qt::Horizontal : Qt::Vertical);
  float low = 0, high = 0, small = 1, big = 10, value = 0;
  archive->FindFloat("_range", 0, &low);
  archive->FindFloat("_range", 1, &high);
  archive->FindFloat("_steps", 0, &small);
  archive->FindFloat("_steps", 1, &big);
  archive->FindFloat("_val", &value);
  bar_->setRange(int(low), int(high));
  bar_->setSingleStep(int(small));
  bar_->setPageStep(int(big));
  bar_->setValue(int(value));
}

BScrollView::BScrollView(BMessage* archive) : BView(archive, new QFrame) {
  auto* frame = static_cast<QFrame*>(Widget());
  frame->setFrameStyle(QFrame::Box | QFrame::Plain);
  frame->setLineWidth(1);
  for (int32 i = 0; i < CountChildren(); ++i) {
    if (auto* bar = dynamic_cast<BScrollBar*>(ChildAt(i)))
      bars_[bar->Orientation()] = bar;
    else if (target_ == nullptr)
      target_ = ChildAt(i);
  }
  for (BScrollBar* bar : bars_)
    if (bar != nullptr) Link(bar);
}

BScrollBar* BScrollView::ScrollBar(orientation which) const { return bars_[which]; }

// The target's own scroll bars are hidden; the archived bar follows their range and value,
// and moving it scrolls the target.
void BScrollView::Link(BScrollBar* bar) {
  auto* area = target_ ? qobject_cast<QAbstractScrollArea*>(target_->Widget()) : nullptr;
  if (area == nullptr) return;
  QScrollBar* inner = bar->Orientation() == B_VERTICAL ? area->verticalScrollBar()
                                                       : area->horizontalScrollBar();
  QScrollBar* shown = bar->Bar();
  shown->setRange(inner->minimum(), inner->maximum());
  QObject::connect(inner, &QScrollBar::rangeChanged, shown, &QScrollBar::setRange);
  QObject::connect(inner, &QScrollBar::valueChanged, shown, &QScrollBar::setValue);
  QObject::connect(shown, &QScrollBar::valueChanged, inner, &QScrollBar::setValue);
}
