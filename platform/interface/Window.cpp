#include "Window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QGuiApplication>
#include <QResizeEvent>
#include <QScreen>
#include <QWindow>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cmath>

#include "Controls.h"
#include "HeldInput.h"
#include "platform/AppDefs.h"

// The top-level widget: it turns the close box into B_QUIT_REQUESTED for the window, and a
// change of size by the user into the views' resizing.
class WindowWidget : public QWidget {
 public:
  explicit WindowWidget(BWindow* window) : window_(window) {
    setAcceptDrops(true);  // drops are taken by the application's drop filter
  }
  BWindow* Window() const { return window_; }

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (window_->closing_) {
      event->accept();
      return;
    }
    event->ignore();
    window_->PostMessage(B_QUIT_REQUESTED);
  }
  void resizeEvent(QResizeEvent* event) override {
    window_->ContentResized(float(event->size().width() - 1), float(event->size().height() - 1));
    FitOnceFramed();
  }
  void moveEvent(QMoveEvent*) override { FitOnceFramed(); }

 private:
  // The frame a window manager draws (title bar, borders) is known only once it has framed the
  // shown window; the window is fitted to the screen again then, once, with the frame counted.
  void FitOnceFramed() {
    if (framedFit_ || !isVisible() || frameGeometry() == geometry()) return;
    framedFit_ = true;
    QTimer::singleShot(0, this, [this] { window_->FitOnScreen(); });
  }

  BWindow* window_;
  bool framedFit_ = false;
};

BWindow::BWindow(BMessage* archive) : widget_(new WindowWidget(this)) {
  const char* text;
  if (archive->FindString("_name", &text) == B_OK) SetName(text);
  if (archive->FindString("_title", &text) == B_OK) SetTitle(text);
  SetArchiveScale(archive);
  float limits[4];
  bool hasLimits = true;
  for (int i = 0; i < 4; ++i) hasLimits = hasLimits && archive->FindFloat("_sizel", i, &limits[i]) == B_OK;
  if (hasLimits)
    SetSizeLimits(limits[0] * scale_, limits[2] * scale_, limits[1] * scale_, limits[3] * scale_);
  BRect frame(100, 100, 399, 299);
  archive->FindRect("_frame", &frame);
  MoveTo(frame.left, frame.top);  // a place on the screen, not scaled
  ResizeTo(std::round(frame.Width() * scale_), std::round(frame.Height() * scale_));
  BMessage child;
  for (int32 i = 0; archive->FindMessage("_views", i, &child) == B_OK; ++i)
    if (BView* view = BView::Instantiate(&child)) AddChild(view);
}

// An archive designed for one font size is built at the desktop's: the scale is the one its
// views are built at too. Within 2% of the design size, nothing is scaled.
void BWindow::SetArchiveScale(BMessage* archive) {
  float design;
  scale_ = 1;
  if (archive->FindFloat("designfsize", &design) == B_OK && std::isfinite(design) && design > 0) {
    float scale = std::clamp(desktop_font_pixels() / design, kSmallestScale, kLargestScale);
    if (std::isfinite(scale) && std::abs(scale - 1) > 0.02f) scale_ = scale;
  }
  set_archive_scale(scale_);
}

BWindow::~BWindow() {
  hold_.reset();
  for (BView* view : views_) delete view;
  delete widget_;
}

QWidget* BWindow::Widget() const { return widget_; }

BWindow* BWindow::ForWidget(QWidget* widget) {
  auto* top = dynamic_cast<WindowWidget*>(widget);
  return top != nullptr ? top->Window() : nullptr;
}

void BWindow::AddChild(BView* view) {
  if (view == nullptr || view->Parent() != nullptr) return;
  views_.push_back(view);
  view->Widget()->setParent(widget_);
  view->PlaceWidget();
  view->Widget()->show();
  view->SetWindow(this);
}

BView* BWindow::FindView(const char* name) const {
  for (BView* view : views_)
    if (BView* found = view->FindView(name)) return found;
  return nullptr;
}

BView* BWindow::ChildAt(int32 index) const {
  return index >= 0 && index < CountChildren() ? views_[size_t(index)] : nullptr;
}

BRect BWindow::Frame() const {
  QPoint at = widget_->pos();
  return BRect(float(at.x()), float(at.y()), float(at.x()) + width_, float(at.y()) + height_);
}

// Positions and sizes from outside (a saved search, say) may be damaged: values that are not
// numbers are ignored, and the rest kept within what a screen can show.
constexpr float kFarthest = 32000;

void BWindow::MoveTo(float x, float y) {
  if (!std::isfinite(x) || !std::isfinite(y)) return;
  x = std::clamp(x, -kFarthest, kFarthest);
  y = std::clamp(y, -kFarthest, kFarthest);
  widget_->move(int(std::lround(x)), int(std::lround(y)));
}

void BWindow::ResizeTo(float width, float height) {
  if (!std::isfinite(width) || !std::isfinite(height)) return;
  width = std::clamp(width, minWidth_, maxWidth_);
  height = std::clamp(height, minHeight_, maxHeight_);
  ContentResized(width, height);
  widget_->resize(int(std::lround(width)) + 1, int(std::lround(height)) + 1);
}

namespace {

// The widget of a view that takes the focus from Tab: its own, or the first inside it.
QWidget* tab_target(QWidget* widget) {
  if (widget->focusPolicy() & Qt::TabFocus) return widget;
  for (QWidget* inner : widget->findChildren<QWidget*>())
    if (inner->focusPolicy() & Qt::TabFocus) return inner;
  return nullptr;
}

}  // namespace

void BWindow::SetTabOrder(std::initializer_list<BView*> views) {
  QWidget* previous = nullptr;
  for (BView* view : views) {
    QWidget* widget = view != nullptr ? tab_target(view->Widget()) : nullptr;
    if (widget == nullptr) continue;
    if (previous != nullptr) QWidget::setTabOrder(previous, widget);
    previous = widget;
  }
}

void BWindow::FitOnScreen() {
  QScreen* screen = QGuiApplication::screenAt(widget_->pos());
  if (screen == nullptr) screen = widget_->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect area = screen->availableGeometry();
  // The frame the window manager draws around the window (title bar, borders) must fit too;
  // it is known once the window has been shown under one. The window's place is its frame's.
  QRect outer = widget_->frameGeometry(), inner = widget_->geometry();
  int across = outer.width() - inner.width(), down = outer.height() - inner.height();
  ResizeTo(std::min(width_, float(area.width() - across - 1)), std::min(height_, float(area.height() - down - 1)));
  float outerWidth = width_ + 1 + float(across), outerHeight = height_ + 1 + float(down);
  QPoint at = widget_->pos();
  float x = std::clamp(float(at.x()), float(area.left()), std::max(float(area.left()), area.left() + area.width() - outerWidth));
  float y = std::clamp(float(at.y()), float(area.top()), std::max(float(area.top()), area.top() + area.height() - outerHeight));
  MoveTo(x, y);
}

// Moves the views for a new content size, whoever changed it.
void BWindow::ContentResized(float width, float height) {
  float dw = width - width_, dh = height - height_;
  width_ = width;
  height_ = height;
  if (dw == 0 && dh == 0) return;
  for (BView* view : views_) view->ParentResized(dw, dh);
}

void BWindow::SetSizeLimits(float minWidth, float maxWidth, float minHeight, float maxHeight) {
  minWidth_ = minWidth;
  maxWidth_ = std::max(minWidth, maxWidth);
  minHeight_ = minHeight;
  maxHeight_ = std::max(minHeight, maxHeight);
  widget_->setMinimumSize(int(std::lround(minWidth_)) + 1, int(std::lround(minHeight_)) + 1);
  widget_->setMaximumSize(int(std::lround(maxWidth_)) + 1, int(std::lround(maxHeight_)) + 1);
  ResizeTo(width_, height_);
}

void BWindow::GetSizeLimits(float* minWidth, float* maxWidth, float* minHeight, float* maxHeight) const {
  if (minWidth) *minWidth = minWidth_;
  if (maxWidth) *maxWidth = maxWidth_;
  if (minHeight) *minHeight = minHeight_;
  if (maxHeight) *maxHeight = maxHeight_;
}

void BWindow::SetTitle(const char* title) {
  title_ = title ? title : "";
  widget_->setWindowTitle(QString::fromUtf8(title_.c_str()));
}

void BWindow::Activate(bool active) {
  if (!active) return;
  widget_->raise();
  widget_->activateWindow();
}

void BWindow::Show() {
  hidden_ = false;
  widget_->show();
}

void BWindow::Hide() {
  hidden_ = true;
  widget_->hide();
}

void BWindow::Quit() {
  closing_ = true;
  widget_->close();
  hidden_ = true;
  BLooper::Quit();
}

void BWindow::InvokeDefaultButton() {
  if (defaultButton_ != nullptr) defaultButton_->Invoke();
}

// The window's thread waits in the event loop, which goes on painting and answering the window
// system, while the held input waits. This window's own messages wait in its queue because the
// handler that called this has not returned.
// The exceptions of a hold: what reaches the live views, the close box and Escape.
class BWindow::LiveInput {
 public:
  LiveInput(BWindow* window, std::vector<BView*> live, uint32 escape)
      : window_(window), live_(std::move(live)), escape_(escape),
        hold_([this](QObject* watched, QEvent* event) { return Passage(watched, event); }) {
    QApplication::setOverrideCursor(Qt::BusyCursor);  // busy, but the list still takes clicks
  }
  ~LiveInput() { QApplication::restoreOverrideCursor(); }
  LiveInput(const LiveInput&) = delete;
  LiveInput& operator=(const LiveInput&) = delete;

 private:
  using Route = HeldInput::Passage;

  Route Passage(QObject* watched, QEvent* event) {
    if (watched != static_cast<QObject*>(window_->widget_->windowHandle())) return Route::kHeld;  // other windows wait
    switch (event->type()) {
      case QEvent::Close:
      case QEvent::Enter:
      case QEvent::Leave:
        return Route::kPassed;
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
        return KeyRoute(static_cast<QKeyEvent*>(event));
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
      case QEvent::MouseButtonRelease:
        return MouseRoute(static_cast<QMouseEvent*>(event));
      case QEvent::Wheel:
      case QEvent::ContextMenu:
        return IsLive(At(static_cast<QSinglePointEvent*>(event))) ? Route::kPassed : Route::kHeld;
      default:
        return Route::kHeld;
    }
  }

  Route KeyRoute(const QKeyEvent* key) {
    if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
      if (key->type() == QEvent::KeyPress) window_->PostMessage(escape_);
      return Route::kTaken;
    }
    return IsLive(QApplication::focusWidget()) ? Route::kPassed : Route::kHeld;
  }

  // A press on a live view passes with everything up to its last release, wherever the
  // pointer goes meanwhile (a drag out of a list).
  Route MouseRoute(const QMouseEvent* mouse) {
    bool passes = grabbed_ || (mouse->type() == QEvent::MouseMove && mouse->buttons() == Qt::NoButton);
    if (!passes && mouse->type() != QEvent::MouseButtonRelease) passes = grabbed_ = IsLive(At(mouse));
    if (grabbed_ && mouse->type() == QEvent::MouseButtonRelease && mouse->buttons() == Qt::NoButton)
      grabbed_ = false;
    return passes ? Route::kPassed : Route::kHeld;
  }

  QWidget* At(const QSinglePointEvent* event) const {
    return window_->widget_->childAt(event->position().toPoint());
  }
  bool IsLive(const QWidget* widget) const {
    return widget != nullptr && std::any_of(live_.begin(), live_.end(), [&](BView* view) {
             return view->Widget() == widget || view->Widget()->isAncestorOf(widget);
           });
  }

  BWindow* window_;
  std::vector<BView*> live_;
  uint32 escape_;
  bool grabbed_ = false;
  HeldInput::Hold hold_;
};

void BWindow::HoldInput(std::vector<BView*> live, uint32 escape) {
  hold_.reset();
  hold_ = std::make_unique<LiveInput>(this, std::move(live), escape);
}

void BWindow::ReleaseInput() { hold_.reset(); }

void BWindow::PostAfterInput(uint32 what) {
  HeldInput::RunInTurn(widget_, [this, what] { PostMessage(what); });
}
