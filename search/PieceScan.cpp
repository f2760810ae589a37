// One big file scanned on several threads at once.
//
// Why the carried text is enough: the scanner's state at a block start is, per needle, the
// longest prefix of it that ends the stream so far (shorter than the needle, or it would have
// matched), plus the bytes of a character left unfinished. Both are set by the stream's last
// bytes: a needle of L folded bytes needs the last L - 1 of them, which at most 4 (L - 1) bytes
// of text fold to, since each character folds to at least one byte. Where letters are folded
// beyond ASCII, the carried text must also start where a character of the stream starts, so
// that it is folded as the stream is: at a byte that cannot continue a character, or after
// three that do (no character is longer than four bytes).
#include "PieceScan.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "BlockScanner.h"
#include "Search.h"

namespace {

// How much of the file before a piece is read for its carried text, beyond the text's own
// length, before the piece is given up as too far from any text.
constexpr off_t kCarryReach = 1 << 20;

// The text before a piece: the stream's last bytes, or all of it from the file's start.
struct Carried {
  std::string text;
  bool fromStart = false;
};

// How many bytes of the stream a piece must be given before it.
size_t carry_wanted(const SearchStrings& strings) {
  size_t longest = 0;
  for (const FoldedNeedle& needle : strings.Needles()) longest = std::max(longest, needle.Length());
  if (longest <= 1) return 0;
  return strings.FoldsText() ? 4 * (longest - 1) + 3 : longest - 1;
}

// The text of block b in data: up to its first NUL.
std::string_view block_text(const char* data, size_t b) {
  const char* block = data + b * kSearchBlockSize;
  const void* nul = memchr(block, '\0', kSearchBlockSize);
  return {block, nul ? size_t(static_cast<const char*>(nul) - block) : kSearchBlockSize};
}

// The last `wanted` bytes of the stream of block texts before `at` (a block start), reading
// back in growing steps; false when a read fails or the reach holds too little text.
bool carried_before(int fd, off_t at, size_t wanted, Carried* carried) {
  std::vector<std::string> backwards;  // texts of runs of blocks, the latest first
  size_t have = 0;
  off_t from = at;
  size_t step = std::max<size_t>(2 * kSearchBlockSize, (wanted / kSearchBlockSize + 1) * kSearchBlockSize);
  std::vector<char> data;
  while (have < wanted && from > 0) {
    if (at - from >= kCarryReach + off_t(wanted)) return false;
    off_t start = std::max<off_t>(0, from - off_t(step));
    data.resize(size_t(from - start));
    if (pread(fd, data.data(), data.size(), start) != ssize_t(data.size())) return false;
    std::string text;
    for (size_t b = 0; b < data.size() / kSearchBlockSize; ++b) text += block_text(data.data(), b);
    have += text.size();
    backwards.push_back(std::move(text));
    from = start;
    step = std::min(2 * step, kScanReadSize);
  }
  std::string all;
  for (auto run = backwards.rbegin(); run != backwards.rend(); ++run) all += *run;
  carried->fromStart = all.size() <= wanted && from == 0;
  carried->text = all.substr(all.size() - std::min(all.size(), wanted));
  return true;
}

// Where in the carried text folding may start: where a character of the stream starts.
size_t character_start(const Carried& carried, bool foldsText) {
  if (carried.fromStart || !foldsText) return 0;
  size_t i = 0;
  while (i < 3 && i < carried.text.size() && (static_cast<unsigned char>(carried.text[i]) & 0xC0) == 0x80) ++i;
  return i;
}

// Scans [from, to) of the file after the carried text, the end of the file's text when `last`;
// stops early once `found` is set, and sets it on a match.
void scan_piece(int fd, const SearchStrings& strings, off_t from, off_t to, const Carried& carried, bool last,
                std::atomic<bool>* found) {
  BlockScanner scanner(strings);
  size_t skip = character_start(carried, strings.FoldsText());
  if (scanner.ScanCarried(carried.text.data() + skip, carried.text.size() - skip)) {
    found->store(true, std::memory_order_relaxed);
    return;
  }
  std::vector<char> buffer(kScanReadSize);
  for (off_t at = from; at < to && !found->load(std::memory_order_relaxed);) {
    ssize_t got = pread(fd, buffer.data(), size_t(std::min<off_t>(off_t(buffer.size()), to - at)), at);
    if (got < 0) return;  // as a scan from the start: a failed read is no match
    if (got == 0) break;  // the file got shorter
    if (scanner.ScanChunk(buffer.data(), size_t(got))) {
      found->store(true, std::memory_order_relaxed);
      return;
    }
    at += got;
  }
  if (last && scanner.Finish()) found->store(true, std::memory_order_relaxed);
}

// Whether the file's first read, at most one piece, holds a match, as a scan from the start
// finds it in its first read: where most matches of a frequent text are, found before any
// carried text is gathered or a piece is handed out.
bool first_read_holds(int fd, const SearchStrings& strings, off_t pieceBytes) {
  std::vector<char> buffer(size_t(std::min<off_t>(kScanReadSize, pieceBytes)));
  ssize_t got = pread(fd, buffer.data(), buffer.size(), 0);
  BlockScanner scanner(strings);
  return got > 0 && scanner.ScanChunk(buffer.data(), size_t(got));
}

}  // namespace

int32 f_seek_in_pieces(int fd, const SearchStrings& strings, off_t size, off_t pieceBytes,
                       const ShareScans& share) {
  if (first_read_holds(fd, strings, pieceBytes)) return 1;
  std::atomic<bool> found{false};
  size_t pieces = size_t((size + pieceBytes - 1) / pieceBytes);
  std::vector<Carried> carried(pieces);
  carried[0].fromStart = true;
  size_t wanted = carry_wanted(strings);
  for (size_t i = 1; i < pieces; ++i) {
    if (carried_before(fd, off_t(i) * pieceBytes, wanted, &carried[i])) continue;
    scan_piece(fd, strings, 0, size, Carried{"", true}, true, &found);
    return found ? 1 : -1;
  }
  share(pieces, [&](size_t i) {
    off_t from = off_t(i) * pieceBytes;
    scan_piece(fd, strings, from, std::min(size, from + pieceBytes), carried[i], i + 1 == pieces, &found);
  });
  return found ? 1 : -1;
}
