#include <csignal>

#include "TarnApp.h"

// The application takes no command-line arguments.
int main() {
  // A write past the file-size limit then fails with EFBIG, and a save reports it, instead of
  // the signal ending the program midway.
  signal(SIGXFSZ, SIG_IGN);
  TarnApp app;
  app.Run();
  return 0;
}
