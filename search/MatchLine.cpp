#include "MatchLine.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <thread>
#include <utility>

#include "BlockScanner.h"
#include "CaseFold.h"
#include "DocumentPhrase.h"
#include "Documents.h"
#include "Search.h"
#include "TextCache.h"
#include "platform/NodeInfo.h"

namespace {

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

// The kind of document the file is by its type, kNone for a file whose bytes are searched.
DocumentKind document_kind_of_file(const char* path) {
  BNode node(path);
  BNodeInfo info(&node);
  char type[B_MIME_TYPE_LENGTH];
  return node.InitCheck() == B_OK && info.GetType(type) == B_OK ? document_kind_of(type) : DocumentKind::kNone;
}

MatchLineStatus document_match_line(BFile& file, DocumentKind kind, const std::string& text, MatchLine* line) {
  struct stat st;
  if (fstat(file.Descriptor(), &st) != 0) return MatchLineStatus::kUnreadable;
  std::string extractor = pdf_extractor_path();
  TextCache cache(TextCache::DefaultFolder(), TextCache::DefaultLimit(), pdf_extractor_version(extractor));
  DocumentReader reader(&cache, extractor, nullptr);
  DocumentText document;
  if (reader.Read(file.Descriptor(), st, kind, &document) != B_OK) return MatchLineStatus::kUnreadable;
  std::string paragraph;
  size_t offset = 0;
  int page = 0;
  line->document = true;
  if (!document_paragraph_with(document, text, &paragraph, &offset, &page)) return MatchLineStatus::kNotFound;
  size_t at = offset, end = std::min(paragraph.size(), offset + text.size());
  if (size_t found, foundEnd; find_folded(paragraph, text, &found, &foundEnd)) {
    at = found;  // the match as the paragraph spells it, in every script's letter case
    end = foundEnd;
  }
  cut_line(paragraph, 0, paragraph.size(), at, end - at, line);
  line->page = kind == DocumentKind::kPdf ? page : 0;
  return MatchLineStatus::kFound;
}

}  // namespace

MatchLineStatus f_match_line(const char* path, const std::string& text, size_t limit, MatchLine* line) {
  BFile file(path, B_READ_ONLY);
  if (file.InitCheck() != B_OK) return MatchLineStatus::kUnreadable;
  if (DocumentKind kind = document_kind_of_file(path); kind != DocumentKind::kNone)
    return document_match_line(file, kind, text, line);
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

}  // namespace

MatchLineStatus f_match_line_within(const char* path, const std::string& text, size_t limit,
                                    std::chrono::milliseconds wait, MatchLine* line) {
  if (running_reads.load() >= kMaxHungReads) return MatchLineStatus::kTimedOut;
  ++running_reads;
  std::packaged_task<std::pair<MatchLineStatus, MatchLine>()> read([file = std::string(path), text, limit] {
    MatchLine found;
    MatchLineStatus status = f_match_line(file.c_str(), text, limit, &found);
    --running_reads;
    return std::pair(status, std::move(found));
  });
  std::future<std::pair<MatchLineStatus, MatchLine>> result = read.get_future();
  std::thread(std::move(read)).detach();  // a read that hangs is left to itself
  if (result.wait_for(wait) != std::future_status::ready) return MatchLineStatus::kTimedOut;
  auto [status, found] = result.get();
  *line = std::move(found);
  return status;
}
