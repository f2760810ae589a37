// The codes of the commands the search window takes, and the program's own names.
#pragma once

#include "platform/AppDefs.h"

constexpr const char* kTarnSignature = "application/x-vnd.TaRnWiCkLoFt";
constexpr const char* kTitle = "Tarnwickloft";
constexpr const char* kTitlePrefix = "Tarnwickloft - ";

namespace command {

constexpr uint32 kOpenPanel = four_cc("opnf");
constexpr uint32 kSave = four_cc("save");
constexpr uint32 kSaveAs = four_cc("svas");
constexpr uint32 kDefaultApp = four_cc("fldf");
constexpr uint32 kShowPaths = four_cc("shpa");
constexpr uint32 kAbout = four_cc("abot");
constexpr uint32 kAllTypes = four_cc("allm");
constexpr uint32 kNoTypes = four_cc("no_m");
constexpr uint32 kTypeItem = four_cc("MIME");  // the same value as B_MIME_DATA
constexpr uint32 kShowDirectory = four_cc("shdr");
constexpr uint32 kSearch = four_cc("srcb");
constexpr uint32 kOpenFile = four_cc("filb");
constexpr uint32 kFileChanged = four_cc("srcf");
constexpr uint32 kMatchInvoked = four_cc("sriv");
constexpr uint32 kMatchSelected = four_cc("srsl");
constexpr uint32 kSearchDirEdited = four_cc("srcd");
constexpr uint32 kSearchForEdited = four_cc("srcs");
constexpr uint32 kSavedSearchesListed = four_cc("svls");
constexpr uint32 kSearchNews = four_cc("srnw");     // a running search has news to take
constexpr uint32 kStopSearch = four_cc("stps");     // Escape during a search
constexpr uint32 kReplayWaiting = four_cc("rply");  // the next command that waited for a search

}  // namespace command
