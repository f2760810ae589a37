#include "TarnApp.h"

// The application takes no command-line arguments.
int main() {
  TarnApp app;
  app.Run();
  return 0;
}
