#include "View.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QPalette>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <map>

#include "Controls.h"
#include "ListView.h"
#include "ScrollView.h"
#include "Window.h"

namespace {

std::map<std::string, BView::Factory>& registry() {
  static std::map<std::string, BView::Factory> factories;
  return factories;
}

// The kit's own classes, known to every archive.
void register_kit_views() {
  static bool done = false;
  if (done) return;
  done = true;
  BView::Register("BView", [](BMessage* a) { return new BView(a); });
  BView::Register("BTextControl", [](BMessage* a) { return new BTextControl(a); });
  BView::Register("_BTextInput_", [](BMessage* a) { return new BTextInput(a); });
  BView::Register("BButton", [](BMessage* a) { return new BButton(a); });
  BView::Register("BListView", [](BMessage* a) { return new BListView(a); });
  BView::Register("BScrollView", [](BMessage* a) { return new BScrollView(a); });
  BView::Register("BScrollBar", [](BMessage* a) { return new BScrollBar(a); });
}

// How far an edge moves when the parent grows by delta along the edge's axis.
float edge_shift(uint32 nibble, float delta) {
  switch (nibble) {
    case 3:  // bottom
    case 4:  // right
      return delta;
    case 5:  // centre
      return delta / 2;
    default:  // top, left, none
      return 0;
  }
}

// The archive's standard colours stand for the desktop palette's roles, so that the window
// follows a light or a dark theme: field white for the base colour, panel grey for the window
// colour, and another light neutral grey (a list's) for the window colour shaded as the
// archive shades it against the panel; black text on any of these is the text colour. Any
// other colour is the archive's own and keeps its value, and so does the text on it, which
// was chosen to be read there.
constexpr int kPanelGrey = 220;
constexpr int kDefaultViewGrey = 216;  // a view's colour when its archive names none

bool is_color(const rgb_color& c, uint8_t r, uint8_t g, uint8_t b) { return c.red == r && c.green == g && c.blue == b; }

bool is_light_neutral(const rgb_color& c) {
  int low = std::min({c.red, c.green, c.blue}), high = std::max({c.red, c.green, c.blue});
  return high - low <= 2 && low >= 192;
}

QColor background_color(const rgb_color& c) {
  const QPalette desktop = QApplication::palette();
  if (is_color(c, 255, 255, 255)) return desktop.color(QPalette::Base);
  if (!is_light_neutral(c)) return QColor(c.red, c.green, c.blue);
  int shade = (c.red + c.green + c.blue) / 3;
  QColor window = desktop.color(QPalette::Window);
  return shade == kPanelGrey || shade == kDefaultViewGrey ? window : window.darker(100 * kPanelGrey / shade);
}

QColor text_color(const rgb_color& c, const rgb_color& background) {
  if (is_color(c, 0, 0, 0) && (is_light_neutral(background) || is_color(background, 255, 255, 255)))
    return QApplication::palette().color(QPalette::Text);
  return QColor(c.red, c.green, c.blue);
}

rgb_color color_from(int32 packed) {
  auto v = uint32_t(packed);
  return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

}  // namespace

BRect follow_parent(const BRect& frame, uint32 mode, float dw, float dh) {
  return BRect(frame.left + edge_shift((mode >> 8) & 0xf, dw),
               frame.top + edge_shift((mode >> 12) & 0xf, dh),
               frame.right + edge_shift(mode & 0xf, dw),
               frame.bottom + edge_shift((mode >> 4) & 0xf, dh));
}

namespace {

float archiveScale = 1;  // GUI thread only

}  // namespace

float archive_scale() { return archiveScale; }

void set_archive_scale(float scale) { archiveScale = scale; }

float desktop_font_pixels() {
  QFont font = QApplication::font();
  if (font.pixelSize() > 0) return float(font.pixelSize());
  QScreen* screen = QGuiApplication::primaryScreen();
  double dpi = screen != nullptr ? screen->logicalDotsPerInchY() : 96;
  return float(font.pointSizeF() * dpi / 72);
}

BRect scaled(const BRect& frame, float scale) {
  if (scale == 1) return frame;
  return BRect(std::round(frame.left * scale), std::round(frame.top * scale), std::round(frame.right * scale),
               std::round(frame.bottom * scale));
}

void apply_archived_font(QWidget* widget, BMessage* archive) {
  const char* family;
  float size = 10;
  if (archive != nullptr && archive->FindString("_fname", &family) == B_OK) {
    float archived;
    if (archive->FindFloat("_fflt", 0, &archived) == B_OK && archived > 0) size = archived;
  }
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPixelSize(int(std::lround(size * archiveScale)));
  widget->setFont(font);
}

void BView::Register(const char* className, Factory factory) {
  registry()[className] = std::move(factory);
}

BView* BView::Instantiate(BMessage* archive) {
  register_kit_views();
  const char* className;
  if (archive == nullptr || archive->FindString("class", &className) != B_OK) return nullptr;
  auto it = registry().find(className);
  return it == registry().end() ? nullptr : it->second(archive);
}

BView::BView(BRect frame, const char* name, uint32 resizingMode, uint32 flags)
    : BView(frame, name, resizingMode, flags, new QWidget) {}

BView::BView(BRect frame, const char* name, uint32 resizingMode, uint32 flags, QWidget* widget)
    : BHandler(name), frame_(frame), resizingMode_(resizingMode), flags_(flags) {
  Init(widget);
}

BView::BView(BMessage* archive) : BView(archive, new QWidget) {}

BView::BView(BMessage* archive, QWidget* widget) {
  const char* name;
  if (archive->FindString("_name", &name) == B_OK) SetName(name);
  if (archive->FindRect("_frame", &frame_) == B_OK) frame_ = scaled(frame_, archiveScale);
  int32 value;
  if (archive->FindInt32("_resize_mode", &value) == B_OK) resizingMode_ = uint32(value);
  if (archive->FindInt32("_flags", &value) == B_OK) flags_ = uint32(value);
  for (int i = 0; i < 3 && archive->FindInt32("_color", i, &value) == B_OK; ++i)
    colors_[i] = color_from(value);
  Init(widget);
  apply_archived_font(widget_, archive);
  BMessage child;
  for (int32 i = 0; archive->FindMessage("_views", i, &child) == B_OK; ++i)
    if (BView* view = Instantiate(&child)) AddChild(view);
}

void BView::Init(QWidget* widget) {
  widget_ = widget;
  widget_->setObjectName(QString::fromUtf8(Name()));
  ApplyColors();
  PlaceWidget();
}

void BView::ApplyColors() {
  QPalette palette = widget_->palette();
  QColor view = background_color(colors_[2]), high = text_color(colors_[0], colors_[2]);
  palette.setColor(QPalette::Window, view);
  palette.setColor(QPalette::Base, view);
  palette.setColor(QPalette::WindowText, high);
  palette.setColor(QPalette::Text, high);
  palette.setColor(QPalette::ButtonText, high);
  widget_->setPalette(palette);
  widget_->setAutoFillBackground(true);
}

BView::~BView() {
  for (BView* child : children_) delete child;
  delete widget_;
}

void BView::PlaceWidget() {
  long left = std::lround(frame_.left), top = std::lround(frame_.top);
  widget_->setGeometry(int(left), int(top), int(std::lround(frame_.right) - left + 1),
                       int(std::lround(frame_.bottom) - top + 1));
}

void BView::AddChild(BView* child) {
  if (child == nullptr || child->parent_ != nullptr) return;
  child->parent_ = this;
  children_.push_back(child);
  child->widget_->setParent(widget_);
  child->PlaceWidget();
  child->widget_->show();
  if (window_ != nullptr) child->SetWindow(window_);
}

bool BView::RemoveChild(BView* child) {
  auto it = std::find(children_.begin(), children_.end(), child);
  if (it == children_.end()) return false;
  children_.erase(it);
  child->parent_ = nullptr;
  child->widget_->setParent(nullptr);
  child->SetWindow(nullptr);
  return true;
}

BView* BView::ChildAt(int32 index) const {
  return index >= 0 && size_t(index) < children_.size() ? children_[size_t(index)] : nullptr;
}

BView* BView::FindView(const char* name) {
  if (name == nullptr) return nullptr;
  if (strcmp(Name(), name) == 0) return this;
  for (BView* child : children_)
    if (BView* found = child->FindView(name)) return found;
  return nullptr;
}

void BView::SetWindow(BWindow* window) {
  window_ = window;
  SetLooper(window);
  for (BView* child : children_) child->SetWindow(window);
  if (window != nullptr) AttachedToWindow();
}

void BView::MoveTo(float x, float y) {
  frame_ = BRect(x, y, x + frame_.Width(), y + frame_.Height());
  PlaceWidget();
}

void BView::ResizeTo(float width, float height) {
  float dw = width - frame_.Width(), dh = height - frame_.Height();
  frame_.right = frame_.left + width;
  frame_.bottom = frame_.top + height;
  PlaceWidget();
  if (dw != 0 || dh != 0)
    for (BView* child : children_) child->ParentResized(dw, dh);
}

void BView::ParentResized(float dw, float dh) {
  BRect moved = follow_parent(frame_, resizingMode_, dw, dh);
  float childDw = moved.Width() - frame_.Width(), childDh = moved.Height() - frame_.Height();
  frame_ = moved;
  PlaceWidget();
  if (childDw != 0 || childDh != 0)
    for (BView* child : children_) child->ParentResized(childDw, childDh);
}
