// The application object: registers the application, rebuilds the search window from the
// archive in the executable's resources, and forwards entries that reach the application.
#pragma once

#include "platform/interface/Application.h"
#include "window/Commands.h"

class BFile;
class TarnWin;


class TarnApp : public BApplication {
 public:
  TarnApp();
  ~TarnApp() override;
  void MessageReceived(BMessage* msg) override;
  void RefsReceived(BMessage* msg) override;

  TarnWin* searchWindow;
};

// Builds the window from the image's archive and shows it, or activates the window that
// exists; false when there is none afterwards.
bool RehydrateTarnWin(BFile& image, TarnWin*& window);
