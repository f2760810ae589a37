// Saves a picture of the search window, built from the resources of this executable as the
// application builds it, for the README and for checking the layout by eye:
//   QT_QPA_PLATFORM=offscreen tarnwickloft-window-shot [--dark] OUT.png [WIDTH HEIGHT]
// --dark gives the application a dark palette first, as a dark desktop theme does.
#include <QApplication>
#include <QPalette>
#include <QPixmap>
#include <QWidget>
#include <cstdio>
#include <charconv>
#include <cstring>

#include "DarkPalette.h"
#include "platform/interface/Application.h"
#include "window/Commands.h"
#include "window/TarnWin.h"
#include "window/WindowArchive.h"

int main(int argc, char** argv) {
  bool dark = argc > 1 && strcmp(argv[1], "--dark") == 0;
  if (dark) {
    --argc;
    ++argv;
  }
  if (argc != 2 && argc != 4) {
    fputs("usage: tarnwickloft-window-shot [--dark] OUT.png [WIDTH HEIGHT]\n", stderr);
    return 2;
  }
  BApplication app(kTarnSignature);
  if (dark) QApplication::setPalette(dark_desktop_palette());
  BMessage archive;
  if (own_window_archive(&archive) != B_OK) {
    fputs("tarnwickloft-window-shot: no window archive in this executable\n", stderr);
    return 1;
  }
  auto* window = new TarnWin(&archive);
  float width = 0, height = 0;
  // from_chars reads numbers the same in every locale, which QApplication has set by now.
  if (argc == 4 && std::from_chars(argv[2], argv[2] + strlen(argv[2]), width).ec == std::errc() &&
      std::from_chars(argv[3], argv[3] + strlen(argv[3]), height).ec == std::errc())
    window->ResizeTo(width, height);
  window->Show();
  for (int i = 0; i < 20; ++i) QApplication::processEvents();
  bool saved = window->Widget()->grab().save(argv[1]);
  window->Lock();
  window->Quit();
  return saved ? 0 : 1;
}
