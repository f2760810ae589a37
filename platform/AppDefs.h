// The message codes the platform itself sends.
#pragma once

#include "SupportDefs.h"

constexpr uint32 B_QUIT_REQUESTED = four_cc("_QRQ");
constexpr uint32 B_REFS_RECEIVED = four_cc("_RRC");
constexpr uint32 B_ARGV_RECEIVED = four_cc("_ARG");
constexpr uint32 B_SIMPLE_DATA = four_cc("DATA");
constexpr uint32 B_MIME_DATA = four_cc("MIME");
constexpr uint32 B_SAVE_REQUESTED = four_cc("SAVE");
constexpr uint32 B_NODE_MONITOR = four_cc("NDMN");
// A bare archived object, the what code of archive messages.
constexpr uint32 B_ARCHIVED_OBJECT = four_cc("_ARC");
