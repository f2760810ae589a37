// The palette of a dark desktop theme, in the manner of GTK's Adwaita-dark: for the window
// screenshot tool and for the tests that check the window reads well on it.
#pragma once

#include <QColor>
#include <QPalette>

inline QPalette dark_desktop_palette() {
  QPalette palette;
  palette.setColor(QPalette::Window, QColor(53, 53, 53));
  palette.setColor(QPalette::WindowText, QColor(238, 238, 236));
  palette.setColor(QPalette::Base, QColor(45, 45, 45));
  palette.setColor(QPalette::AlternateBase, QColor(60, 60, 60));
  palette.setColor(QPalette::Text, QColor(238, 238, 236));
  palette.setColor(QPalette::Button, QColor(60, 60, 60));
  palette.setColor(QPalette::ButtonText, QColor(238, 238, 236));
  palette.setColor(QPalette::Highlight, QColor(21, 83, 158));
  palette.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
  return palette;
}
