// The window archive "W_Tarnwickloft" from the resources of the running executable, for the
// programs beside the application that build the same window (tests, tools, benchmarks).
#pragma once

#include "platform/Message.h"

constexpr type_code kArchiveType = four_cc("ARCV");
constexpr const char* kArchiveName = "W_Tarnwickloft";

status_t own_window_archive(BMessage* archive);
