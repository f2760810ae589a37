// Guesses types two ways in a fresh process (GIO finds the database's folders once per
// process): with MimeGuess, and with GIO's g_content_type_guess.
//   guess-probe names   each NUL-ended name on standard input, by name alone
//   guess-probe heads   each NUL-ended path on standard input, by its name and its first
//                       4096 bytes, as a content guess reads them
//   guess-probe watch NAME SECONDS
//                       prints NAME's type by name, waits SECONDS, and prints it again: the
//                       caller changes the database meanwhile
// Prints each entry where the two differ, then "checked N, answered by GIO M" (M: the
// entries MimeGuess leaves to GIO); exits 1 when any differ, 2 when MimeGuess cannot be made.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gio/gio.h>
#include <iostream>
#include <string>
#include <unistd.h>

#include "platform/MimeGuess.h"

namespace {

std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string head_of(const std::string& path) {
  std::string head(4096, '\0');
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  ssize_t got = fd >= 0 ? pread(fd, head.data(), head.size(), 0) : -1;
  if (fd >= 0) close(fd);
  head.resize(got > 0 ? size_t(got) : 0);
  return head;
}

// NAME's type by name as the database stands now.
std::string type_by_name(const char* name) {
  const MimeGuess* guess = MimeGuess::Current();
  const char* type;
  bool uncertain;
  return guess != nullptr && guess->ByName(name, &type, &uncertain) ? type : "(unknown)";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "watch") == 0) {
    std::cout << type_by_name(argv[2]) << std::endl;
    sleep(unsigned(atoi(argv[3])));
    std::cout << type_by_name(argv[2]) << std::endl;
    return 0;
  }
  bool heads = argc > 1 && strcmp(argv[1], "heads") == 0;
  const MimeGuess* guess = MimeGuess::Current();
  if (guess == nullptr) return 2;
  size_t checked = 0, differ = 0, byGio = 0;
  for (std::string entry; std::getline(std::cin, entry, '\0'); ++checked) {
    std::string name = heads ? base_name(entry) : entry, head = heads ? head_of(entry) : "";
    if (heads && head.empty()) continue;
    const auto* bytes = reinterpret_cast<const uint8_t*>(head.data());
    const char* ours = nullptr;
    bool oursUncertain = true;
    bool answered = heads ? guess->ByContent(name.c_str(), bytes, head.size(), &ours, &oursUncertain)
                          : guess->ByName(name.c_str(), &ours, &oursUncertain);
    if (!answered) {
      ++byGio;
      continue;
    }
    gboolean uncertain = TRUE;
    gchar* theirs = g_content_type_guess(name.c_str(), heads ? bytes : nullptr, head.size(), &uncertain);
    std::string gio = theirs != nullptr ? theirs : "(null)";
    g_free(theirs);
    // A content guess is used for its type; a guess by name for its certainty as well.
    if (gio == ours && (heads || oursUncertain == bool(uncertain))) continue;
    ++differ;
    std::cout << "'" << entry << "': ours " << ours << (oursUncertain ? " (uncertain)" : "") << ", GIO " << gio
              << (uncertain ? " (uncertain)" : "") << "\n";
  }
  std::cout << "checked " << checked << ", answered by GIO " << byGio << "\n";
  return differ == 0 ? 0 : 1;
}
