// Controls: the text entry of a text control, text controls and buttons. Each sends its
// message to its window when invoked, with the pointer field "source" naming the control.
#pragma once

#include <memory>

#include "View.h"

class QLineEdit;
class QLabel;
class QPushButton;

// The entry field of a text control, a QLineEdit ("_BTextInput_" in archives).
class BTextInput : public BView {
 public:
  explicit BTextInput(BMessage* archive);
  const char* ClassName() const override { return "_BTextInput_"; }
  QLineEdit* LineEdit() const { return edit_; }

 private:
  QLineEdit* edit_;
};

class BTextControl : public BView {
 public:
  // Reads "_label", "_divide", "_msg" (invocation) and "_mod_msg" (modification, flattened);
  // the entry field is the archived child "_input_", or one made at the divider.
  explicit BTextControl(BMessage* archive);
  const char* ClassName() const override { return "BTextControl"; }

  const char* Text() const;
  void SetText(const char* text);
  const char* Label() const { return label_.c_str(); }
  float Divider() const { return divider_; }
  BMessage* Message() const { return message_.get(); }
  void SetMessage(BMessage* message) { message_.reset(message); }
  BMessage* ModificationMessage() const { return modification_.get(); }
  void SetModificationMessage(BMessage* message) { modification_.reset(message); }
  // Sends the invocation message, when there is one, to the window.
  status_t Invoke();
  BTextInput* TextView() const { return input_; }

 private:
  void Connect();

  std::string label_;
  float divider_ = 0;
  std::unique_ptr<BMessage> message_;
  std::unique_ptr<BMessage> modification_;
  QLabel* labelWidget_;
  BTextInput* input_ = nullptr;
  mutable std::string text_;
  bool connected_ = false;
};

class BButton : public BView {
 public:
  // Reads "_label", "_msg" and "_default" (the window's default button).
  explicit BButton(BMessage* archive);
  const char* ClassName() const override { return "BButton"; }
  const char* Label() const { return label_.c_str(); }
  void SetLabel(const char* label);
  BMessage* Message() const { return message_.get(); }
  bool IsDefault() const { return default_; }
  status_t Invoke();
  QPushButton* Button() const { return button_; }

 protected:
  void AttachedToWindow() override;

 private:
  std::string label_;
  std::unique_ptr<BMessage> message_;
  bool default_ = false;
  QPushButton* button_;
};

// Posts a copy of the message to the view's window with "source" naming the view.
status_t post_from(BView* source, const BMessage* message);
