#include "MatchLine.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "BlockScanner.h"
#include "CaseFold.h"
#include "Search.h"

namespace {

// Where the text first occurs in content with letter case folded as the search folds it: the
// offsets in content of the match's first byte and of the byte after it.
bool find_folded(const std::string& content, const std::string& text, size_t* at, size_t* end) {
  std::vector<size_t> starts;
  std::string folded = fold_case_mapped(content, &starts);
  std::string needle = fold_case(text);
  ssize_t found = StreamNeedle(needle).FindIn(folded.data(), folded.size());
  if (found < 0) return false;
  *at = starts[size_t(found)];
  *end = starts[size_t(found) + needle.size()];
  return true;
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
  size_t at, end;
  if (!find_folded(content, text, &at, &end)) return MatchLineStatus::kNotFound;
  size_t newline = at == 0 ? std::string::npos : content.rfind('\n', at - 1);
  size_t lineStart = newline == std::string::npos ? 0 : newline + 1;
  size_t lineEnd = content.find('\n', end);
  if (lineEnd == std::string::npos) lineEnd = content.size();
  if (lineEnd > end && content[lineEnd - 1] == '\r') --lineEnd;
  cut_line(content, lineStart, lineEnd, at, end - at, line);
  return MatchLineStatus::kFound;
}

namespace {

// Reads still running after their caller stopped waiting; past the cap, callers do not wait.
constexpr int kMaxHungReads = 4;
std::atomic<int> running_reads{0};

// What a reading thread and its caller share; the last of the two to let go frees it.
struct PendingLine {
  std::mutex lock;
  std::condition_variable ready;
  bool done = false;  // guarded by lock, as are status and line
  MatchLineStatus status = MatchLineStatus::kUnreadable;
  MatchLine line;
};

}  // namespace

MatchLineStatus f_match_line_within(const char* path, const std::string& text, size_t limit,
                                    std::chrono::milliseconds wait, MatchLine* line) {
  if (running_reads.load() >= kMaxHungReads) return MatchLineStatus::kTimedOut;
  auto pending = std::make_shared<PendingLine>();
  ++running_reads;
  std::thread([pending, file = std::string(path), text, limit] {
    MatchLine found;
    MatchLineStatus status = f_match_line(file.c_str(), text, limit, &found);
    std::lock_guard<std::mutex> hold(pending->lock);
    pending->status = status;
    pending->line = std::move(found);
    pending->done = true;
    pending->ready.notify_one();
    --running_reads;
  }).detach();
  std::unique_lock<std::mutex> hold(pending->lock);
  if (!pending->ready.wait_for(hold, wait, [&] { return pending->done; })) return MatchLineStatus::kTimedOut;
  *line = std::move(pending->line);
  return pending->status;
}
