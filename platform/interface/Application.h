// The application object: the program's main loop, and the looper that receives the messages
// addressed to the application as a whole. It makes the QApplication the widgets need.
#pragma once

#include <memory>

#include "Looper.h"

#include "platform/Entry.h"

class QApplication;
class QObject;

struct app_info {
  entry_ref ref;  // the executable
  std::string signature;
  uint32 flags = 0;
  pid_t team = -1;
};

class BApplication : public BLooper {
 public:
  // A message handed over by the launch that started this process is posted to the
  // application, to be received once its loop runs.
  explicit BApplication(const char* signature);
  ~BApplication() override;

  // Runs the event loop until Quit.
  virtual void Run();
  // Ends the event loop; the application object itself stays until its owner deletes it.
  void Quit() override;
  // Hands B_REFS_RECEIVED to RefsReceived and B_ARGV_RECEIVED to ArgvReceived.
  void MessageReceived(BMessage* message) override;
  virtual void RefsReceived(BMessage* message);
  virtual void ArgvReceived(int32 argc, char** argv);

  const char* Signature() const { return signature_.c_str(); }
  // The running application's executable is the one /proc/self/exe names.
  status_t GetAppInfo(app_info* info) const;
  bool IsQuitting() const { return quit_; }

 private:
  std::string signature_;
  std::unique_ptr<QApplication> ownApp_;
  QObject* eventFilter_;
  bool quit_ = false;
};

extern BApplication* be_app;

// Rings the display's bell. Failures of window commands are reported this way only.
void beep();
// How many times beep() has been called in this process; for tests.
int32 beep_count();
