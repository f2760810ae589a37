#include "MatchLine.h"

#include <algorithm>

#include "Search.h"
#include "platform/AsciiFold.h"

namespace {

size_t find_folded(const std::string& haystack, const std::string& needle) {
  auto at = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                        [](char a, char b) { return ascii::fold(a) == ascii::fold(b); });
  return at == haystack.end() && !needle.empty() ? std::string::npos : size_t(at - haystack.begin());
}

// Keeps a third of the width before the match and the rest after it.
void cut_line(const std::string& content, size_t lineStart, size_t lineEnd, size_t at, size_t length,
              MatchLine* line) {
  size_t keepBefore = kMatchLineWidth / 3;
  size_t from = at - lineStart > keepBefore ? at - keepBefore : lineStart;
  size_t matchEnd = std::min(at + length, lineEnd);
  size_t room = kMatchLineWidth > matchEnd - from ? kMatchLineWidth - (matchEnd - from) : 0;
  size_t to = std::min(lineEnd, matchEnd + room);
  line->before = content.substr(from, at - from);
  line->match = content.substr(at, matchEnd - at);
  line->after = content.substr(matchEnd, to - matchEnd);
  line->cutBefore = from > lineStart;
  line->cutAfter = to < lineEnd;
}

}  // namespace

MatchLineStatus f_match_line(const char* path, const std::string& text, size_t limit, MatchLine* line) {
  BFile file(path, B_READ_ONLY);
  if (file.InitCheck() != B_OK) return MatchLineStatus::kUnreadable;
  std::string content(limit, '\0');
  size_t filled = 0;
  while (filled < limit) {
    ssize_t got = file.Read(content.data() + filled, limit - filled);
    if (got < 0) return MatchLineStatus::kUnreadable;
    if (got == 0) break;
    filled += size_t(got);
  }
  content.resize(filled);
  size_t at = find_folded(content, text);
  if (at == std::string::npos) return MatchLineStatus::kNotFound;
  size_t newline = at == 0 ? std::string::npos : content.rfind('\n', at - 1);
  size_t lineStart = newline == std::string::npos ? 0 : newline + 1;
  size_t lineEnd = content.find('\n', at + text.size());
  if (lineEnd == std::string::npos) lineEnd = content.size();
  if (lineEnd > at + text.size() && content[lineEnd - 1] == '\r') --lineEnd;
  cut_line(content, lineStart, lineEnd, at, text.size(), line);
  return MatchLineStatus::kFound;
}
