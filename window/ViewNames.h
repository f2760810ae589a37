// The names of the archived window's views that the program looks up.
#pragma once

namespace view_names {

constexpr const char* kBackground = "V_Background";
constexpr const char* kFile = "TC_File";
constexpr const char* kOpenFile = "B_OpenFile";
constexpr const char* kSearchDir = "TC_SearchDir";
constexpr const char* kSearchFor = "TC_SearchFor";
constexpr const char* kSearch = "B_Search";
constexpr const char* kMatchesScroll = "SV_Matches";
constexpr const char* kMatches = "LV_Matches";

}  // namespace view_names
