// Reads resource definitions (the .rdef text in resources/) into resource entries.
#pragma once

#include <string>
#include <vector>

#include "platform/Resources.h"

// False with a message naming the line when the text is malformed.
bool parse_resource_definitions(const std::string& text, std::vector<BResources::Entry>* entries,
                                std::string* error);
