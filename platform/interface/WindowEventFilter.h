// Sees the events of every widget of a window before the widget does:
//  - drops become messages to the window: files and folders B_SIMPLE_DATA with "refs",
//    anything else B_MIME_DATA (a line edit would otherwise paste the dropped paths as text);
//  - a key that is one of the window's menu shortcuts goes to the menu, even when the focused
//    widget has a meaning of its own for it (a line edit takes Ctrl+A as select-all).
#pragma once

#include <QObject>

class WindowEventFilter : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override;
};
