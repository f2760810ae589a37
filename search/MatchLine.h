// Why a file matched: the first line of the file that holds the search text, for showing
// beside a result. Read when asked for, from the file as it is then.
#pragma once

#include <chrono>
#include <string>

struct MatchLine {
  // The line cut to at most about kMatchLineWidth characters around the match: the text
  // before it, the match itself as the file spells it, and the text after it. cutBefore and
  // cutAfter tell whether the line goes on beyond what is kept.
  std::string before, match, after;
  bool cutBefore = false, cutAfter = false;
  // For a document (Documents.h): the line is the paragraph of its text that holds the match,
  // and for a PDF, page is the page it is on (0 otherwise).
  bool document = false;
  int page = 0;
};

enum class MatchLineStatus { kFound, kNotFound, kUnreadable, kTimedOut };

constexpr size_t kMatchLineWidth = 100;

// Looks for the text in the first `limit` bytes of the file at path, with letter case folded
// as the search folds it, and fills line with the first line that holds it. A document's text
// is searched whole instead, from the text cache when it holds it.
MatchLineStatus f_match_line(const char* path, const std::string& text, size_t limit, MatchLine* line);

// f_match_line on a thread of its own, waited for at most `wait`, for callers that must not
// block (a window): kTimedOut when the file has not been read by then, as on a stalled
// network mount. The read goes on alone and its result is dropped; while a few such reads
// hang, later calls answer kTimedOut at once rather than start more.
MatchLineStatus f_match_line_within(const char* path, const std::string& text, size_t limit,
                                    std::chrono::milliseconds wait, MatchLine* line);
