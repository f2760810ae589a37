#include "EntryItem.h"

#include <atomic>

#include "search/MatchLine.h"
#include "search/Search.h"

namespace {

std::atomic<int32> live{0};

// The most of a file a tooltip reads, and the longest the window waits for it.
constexpr size_t kToolTipReadLimit = 1 << 20;
constexpr std::chrono::milliseconds kToolTipWait{200};

std::string html_escaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\t': escaped += ' '; break;
      default: escaped += c;
    }
  }
  return escaped;
}

}  // namespace

EntryItem::EntryItem(const entry_ref& ref, const char* label)
    : BStringItem(label, 0, true), ref_(ref) {
  ++live;
}

EntryItem::~EntryItem() { --live; }

int32 EntryItem::LiveCount() { return live.load(); }

std::string EntryItem::FilePath() const {
  BPath path = f_get_path(ref_);
  return path.Path() != nullptr ? path.Path() : "";
}

std::string EntryItem::ToolTip() const {
  std::string path = FilePath();
  if (path.empty()) return "";
  std::string tip = "<html><p style='white-space:pre'>" + html_escaped(path) + "</p><p style='white-space:pre'>";
  MatchLine line;
  switch (f_match_line_within(path.c_str(), searchText_ ? *searchText_ : "", kToolTipReadLimit, kToolTipWait, &line)) {
    case MatchLineStatus::kFound:
      if (line.page > 0) tip += "page " + std::to_string(line.page) + ": ";
      tip += (line.cutBefore ? "&hellip;" : "") + html_escaped(line.before) + "<b>" + html_escaped(line.match) +
             "</b>" + html_escaped(line.after) + (line.cutAfter ? "&hellip;" : "");
      break;
    case MatchLineStatus::kNotFound:
      tip += line.document ? "<i>The text is no longer in this document.</i>"
                           : "<i>The text is no longer in this file's first megabyte.</i>";
      break;
    case MatchLineStatus::kUnreadable: tip += "<i>This file is no longer there, or cannot be read.</i>"; break;
    case MatchLineStatus::kTimedOut: tip += "<i>The line is not available: the file is slow to read.</i>"; break;
  }
  return tip + "</p></html>";
}
