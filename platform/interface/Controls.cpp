#include "Controls.h"

#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleOptionFocusRect>
#include <climits>
#include <cmath>

#include "Window.h"
#include "platform/AppDefs.h"

status_t post_from(BView* source, const BMessage* message) {
  if (message == nullptr || source->Window() == nullptr) return B_BAD_VALUE;
  BMessage copy(*message);
  copy.AddPointer("source", source);
  return source->Window()->PostMessage(&copy);
}

namespace {

std::unique_ptr<BMessage> archived_message(BMessage* archive, const char* field) {
  auto message = std::make_unique<BMessage>();
  return archive->FindMessage(field, message.get()) == B_OK ? std::move(message) : nullptr;
}

std::unique_ptr<BMessage> flattened_message(BMessage* archive, const char* field) {
  const void* bytes;
  ssize_t size;
  auto message = std::make_unique<BMessage>();
  if (archive->FindData(field, B_RAW_TYPE, &bytes, &size) != B_OK ||
      message->Unflatten(static_cast<const char*>(bytes), size) != B_OK)
    return nullptr;
  return message;
}

// Draws a focus frame inside a button that has the focus: the default button is already drawn
// highlighted, so without one a user tabbing to it could not tell where the focus is.
class FocusFrameStyle : public QProxyStyle {
 public:
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    QProxyStyle::drawControl(element, option, painter, widget);
    if (element != CE_PushButton || !(option->state & State_HasFocus)) return;
    QStyleOptionFocusRect frame;
    frame.QStyleOption::operator=(*option);
    frame.rect = option->rect.adjusted(4, 4, -4, -4);
    frame.backgroundColor = option->palette.color(QPalette::Button);
    QProxyStyle::drawPrimitive(PE_FrameFocusRect, &frame, painter, widget);
  }
};

}  // namespace

// ---- BTextInput

BTextInput::BTextInput(BMessage* archive) : BView(archive, new QLineEdit), edit_(static_cast<QLineEdit*>(Widget())) {
  const char* text;
  if (archive->FindString("_text", &text) == B_OK) edit_->setText(QString::fromUtf8(text));
  int32 max;
  edit_->setMaxLength(archive->FindInt32("_max", &max) == B_OK && max > 0 ? max : INT_MAX);
  // The archive's frame is only 14 pixels high: a thin border and no margins keep the text
  // readable in it.
  edit_->setFrame(false);
  edit_->setTextMargins(2, 0, 2, 0);
  // With the focus, the border takes the highlight colour: the field's focus frame.
  edit_->setStyleSheet(
      "QLineEdit { border: 1px solid #989898; background: palette(base); color: palette(text); padding: 0; }"
      "QLineEdit:focus { border: 1px solid palette(highlight); }");
}

// ---- BTextControl

BTextControl::BTextControl(BMessage* archive) : BView(archive, new QWidget) {
  const char* label;
  if (archive->FindString("_label", &label) == B_OK) label_ = label;
  if (archive->FindFloat("_divide", &divider_) == B_OK) divider_ = std::round(divider_ * archive_scale());
  message_ = archived_message(archive, "_msg");
  modification_ = flattened_message(archive, "_mod_msg");
  labelWidget_ = new QLabel(QString::fromUtf8(label_.c_str()), Widget());
  labelWidget_->setGeometry(0, 0, int(divider_), int(Bounds().Height()) + 1);
  labelWidget_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  labelWidget_->setFont(Widget()->font());
  labelWidget_->setVisible(!label_.empty());
  for (int32 i = 0; i < CountChildren() && input_ == nullptr; ++i)
    input_ = dynamic_cast<BTextInput*>(ChildAt(i));
  if (input_ == nullptr) {
    BMessage made(B_ARCHIVED_OBJECT);
    made.AddString("_name", "_input_");
    made.AddInt32("_resize_mode", int32(B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP));
    input_ = new BTextInput(&made);
    // Placed in this view's own units, which are already scaled.
    input_->MoveTo(divider_ + 1, 2);
    input_->ResizeTo(Bounds().right - 2 - (divider_ + 1), Bounds().bottom - 4);
    AddChild(input_);
  }
  Connect();
}

void BTextControl::Connect() {
  QLineEdit* edit = input_->LineEdit();
  // Enter sends the invocation message, then presses the window's default button.
  QObject::connect(edit, &QLineEdit::returnPressed, edit, [this] {
    Invoke();
    if (Window() != nullptr) Window()->InvokeDefaultButton();
  });
  QObject::connect(edit, &QLineEdit::textEdited, edit, [this] {
    if (modification_ != nullptr) post_from(this, modification_.get());
  });
}

const char* BTextControl::Text() const {
  text_ = input_->LineEdit()->text().toStdString();
  return text_.c_str();
}

void BTextControl::SetText(const char* text) {
  input_->LineEdit()->setText(QString::fromUtf8(text ? text : ""));
}

status_t BTextControl::Invoke() {
  return message_ == nullptr ? B_BAD_VALUE : post_from(this, message_.get());
}

// ---- BButton

BButton::BButton(BMessage* archive) : BView(archive, new QPushButton), button_(static_cast<QPushButton*>(Widget())) {
  const char* label;
  if (archive->FindString("_label", &label) == B_OK) label_ = label;
  message_ = archived_message(archive, "_msg");
  archive->FindBool("_default", &default_);
  button_->setText(QString::fromUtf8(label_.c_str()));
  button_->setDefault(default_);
  auto* style = new FocusFrameStyle;
  style->setParent(button_);
  button_->setStyle(style);
  QObject::connect(button_, &QPushButton::clicked, button_, [this] { Invoke(); });
}

void BButton::SetLabel(const char* label) {
  label_ = label != nullptr ? label : "";
  button_->setText(QString::fromUtf8(label_.c_str()));
}

void BButton::AttachedToWindow() {
  if (default_) Window()->SetDefaultButton(this);
}

status_t BButton::Invoke() {
  return message_ == nullptr ? B_BAD_VALUE : post_from(this, message_.get());
}
