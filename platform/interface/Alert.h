// A modal alert with up to three buttons, shown as a QMessageBox.
#pragma once

#include <memory>

#include "platform/SupportDefs.h"

class QMessageBox;

enum button_width { B_WIDTH_AS_USUAL, B_WIDTH_FROM_WIDEST, B_WIDTH_FROM_LABEL };
enum alert_type { B_EMPTY_ALERT, B_INFO_ALERT, B_IDEA_ALERT, B_WARNING_ALERT, B_STOP_ALERT };

class BAlert {
 public:
  BAlert(const char* title, const char* text, const char* button0, const char* button1 = nullptr,
         const char* button2 = nullptr, button_width width = B_WIDTH_AS_USUAL,
         alert_type type = B_INFO_ALERT);
  ~BAlert();

  // Shows the alert and waits for a button; returns its index and deletes the alert. While it
  // waits, messages posted to windows stay queued until the running handler returns.
  int32 Go();
  QMessageBox* Box() const { return box_.get(); }

 private:
  std::unique_ptr<QMessageBox> box_;
};
