// Stands in for an application in the launch tests: writes where its launch message came
// from and the message itself to the file named by $PROBE_OUT.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "platform/Message.h"
#include "platform/Roster.h"

int main() {
  const char* out = getenv("PROBE_OUT");
  if (out == nullptr) return 2;
  char origin[256] = {};
  (void)!readlink("/proc/self/fd/3", origin, sizeof origin - 1);
  BMessage message;
  status_t status = take_launch_message(&message);
  std::string bytes(size_t(message.FlattenedSize()), '\0');
  message.Flatten(bytes.data(), ssize_t(bytes.size()));
  std::string temporary = std::string(out) + ".part";
  FILE* file = fopen(temporary.c_str(), "wb");
  fprintf(file, "%s\n%d\n", origin, status);
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
  rename(temporary.c_str(), out);
  return 0;
}
