// Turns drops on any widget of a window into messages to that window, before the widget under
// the pointer sees them: files and folders become B_SIMPLE_DATA with "refs", anything else
// B_MIME_DATA. A line edit would otherwise paste the dropped paths as text.
#pragma once

#include <QObject>

class DropFilter : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override;
};
