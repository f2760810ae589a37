// GIO, loaded the first time it is asked for. The storage side turns to GIO only where the
// program's own reading of the MIME database cannot answer (a damaged cache, patterns outside
// one, a name several patterns match) and for the registered types of a supertype, so a
// command-line search usually never loads it, nor the eight libraries that come with it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace gio_on_demand {

// g_content_type_guess for a name and, when data is not null, a file's head. Nothing when GIO
// cannot be loaded or has no guess.
std::optional<std::string> content_type_guess(const char* name, const unsigned char* data, size_t size,
                                              bool* uncertain);

// g_content_types_get_registered; empty when GIO cannot be loaded.
std::vector<std::string> registered_types();

}  // namespace gio_on_demand
