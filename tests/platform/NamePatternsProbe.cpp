// Asks, in a fresh process (GIO reads the database's folders once per process), the type of
// each NUL-ended name on standard input two ways: from the database's patterns read here
// (NamePatterns), and from GIO's g_content_type_guess by name alone. Prints each name where
// the two differ, then "checked N"; exits 1 when any differ, 2 when the patterns cannot be read.
#include <cstdio>
#include <gio/gio.h>
#include <iostream>
#include <string>

#include "platform/NamePatterns.h"

int main() {
  const NamePatterns* patterns = NamePatterns::Current();
  if (patterns == nullptr) return 2;
  size_t checked = 0, differ = 0;
  for (std::string name; std::getline(std::cin, name, '\0'); ++checked) {
    const char* types[NamePatterns::kMostTypes];
    int n = patterns->TypesOf(name.c_str(), types);
    std::string ours = n < 0 ? "(damaged)" : n == 0 ? "application/octet-stream" : types[0];
    bool oursSure = n == 1;
    gboolean uncertain = TRUE;
    gchar* guess = g_content_type_guess(name.c_str(), nullptr, 0, &uncertain);
    std::string gio = guess != nullptr ? guess : "(null)";
    g_free(guess);
    if (ours == gio && oursSure == !uncertain) continue;
    ++differ;
    std::cout << "'" << name << "': patterns " << ours << (oursSure ? "" : " (uncertain)") << ", GIO " << gio
              << (uncertain ? " (uncertain)" : "") << "\n";
  }
  std::cout << "checked " << checked << "\n";
  return differ == 0 ? 0 : 1;
}
