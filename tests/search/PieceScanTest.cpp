// A big file scanned in pieces on several threads against the same file scanned from its start.
#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "TempTree.h"
#include "search/BlockScanner.h"
#include "search/PieceScan.h"
#include "search/Search.h"

namespace {

// Shares the scans out to `threads` threads; with one, runs them last first, so that no piece
// can lean on the one before it having run.
ShareScans share_on(int threads) {
  return [threads](size_t count, const std::function<void(size_t)>& scan) {
    if (threads == 1) {
      for (size_t i = count; i-- > 0;) scan(i);
      return;
    }
    std::atomic<size_t> next{0};
    auto work = [&] {
      for (size_t i; (i = next++) < count;) scan(i);
    };
    std::vector<std::thread> others;
    for (int t = 1; t < threads; ++t) others.emplace_back(work);
    work();
    for (std::thread& thread : others) thread.join();
  };
}

struct Scanned {
  int32 fromStart;
  int32 inPieces;
};

Scanned scan_both(const TempTree& tree, const std::string& content, std::vector<std::string> needles,
                  off_t pieceBytes, int threads) {
  std::string path = tree.file("scanned", content, "");
  BList list;
  for (std::string& needle : needles) list.AddItem(needle.data());
  SearchStrings strings(list);
  BFile file(path.c_str(), B_READ_ONLY);
  Scanned scanned{f_seek(file, strings, off_t(content.size())), 0};
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  scanned.inPieces = f_seek_in_pieces(fd, strings, off_t(content.size()), pieceBytes, share_on(threads));
  close(fd);
  return scanned;
}

// Text of characters drawn from `alphabet`, some of them several bytes long.
std::string random_text(std::mt19937& random, const std::vector<std::string>& alphabet, size_t length) {
  std::string text;
  while (text.size() < length) text += alphabet[random() % alphabet.size()];
  return text;
}

}  // namespace

// Matches across the pieces' edges, NUL bytes at and beside the edges, characters of several
// bytes cut by an edge, stray continuation bytes, and needles longer than a piece: in pieces
// of one to three blocks, on one, two and eight threads, the answer is the scan's from the start.
TEST(PieceScanTest, AgreesWithAScanFromTheStart) {
  std::mt19937 random(28);
  TempTree tree;
  const std::vector<std::vector<std::string>> alphabets = {
      {"a", "A", "b", "B"},
      {"a", "b", "\xC3\xA9", "\xC3\x89", "\xE2\x84\xAA", "k", "K"},  // é É, KELVIN SIGN
      {"s", "S", "\xC5\xBF", "\x80", "\xC3", "x"},                     // LONG S, stray bytes
  };
  int matches = 0, misses = 0;
  for (int round = 0; round < 600; ++round) {
    const auto& alphabet = alphabets[size_t(round) % alphabets.size()];
    size_t blocks = 1 + random() % 3;
    off_t pieceBytes = off_t(blocks * kSearchBlockSize);
    std::string content = random_text(random, alphabet, 2 * size_t(pieceBytes) + random() % 9000);
    for (size_t n = random() % 4; n > 0; --n) {
      size_t edge = (1 + random() % (content.size() / kSearchBlockSize)) * kSearchBlockSize;
      size_t at = std::min(content.size() - 1, edge + random() % 3 - 1);
      content[at] = '\0';
    }
    std::vector<std::string> needles;
    for (size_t n = 1 + random() % 2; n > 0; --n) needles.push_back(random_text(random, alphabet, 3 + random() % 14));
    if (round % 8 == 0) {
      // Longer than a piece, planted across an edge.
      std::string longNeedle = random_text(random, alphabet, 1500 + random() % 2500);
      size_t at = std::min(content.size(), size_t(pieceBytes) - 7 + random() % 5);
      content.insert(at, longNeedle);
      needles.push_back(round % 16 == 0 ? longNeedle : longNeedle + "!");
    } else if (round % 2 == 0) {
      // A needle planted across an edge, cut anywhere, its k's written as KELVIN SIGNs (three
      // bytes that fold to one), in the text only.
      std::string planted;
      for (char c : needles[0]) planted += (c == 'k' || c == 'K') ? std::string("\xE2\x84\xAA") : std::string(1, c);
      size_t edge = (1 + random() % (content.size() / kSearchBlockSize)) * kSearchBlockSize;
      content.replace(edge - std::min(edge, 1 + random() % planted.size()), planted.size(), planted);
    }
    for (int threads : {1, 2, 8}) {
      Scanned scanned = scan_both(tree, content, needles, pieceBytes, threads);
      ASSERT_EQ(scanned.inPieces, scanned.fromStart) << "round " << round << ", " << threads << " threads";
      (scanned.fromStart == 1 ? matches : misses)++;
    }
  }
  // Both answers were asked for often.
  EXPECT_GT(matches, 300);
  EXPECT_GT(misses, 300);
}

// The text a piece needs may lie far back, past blocks of NUL bytes whose texts are empty; the
// match runs across them all the same.
TEST(PieceScanTest, AMatchAcrossAMegabyteOfNulBlocksIsFound) {
  TempTree tree;
  std::string content = "some text and then nee";
  content.resize(kSearchBlockSize, '\0');
  content.append((3 << 19) + kSearchBlockSize, '\0');
  content += "dle, and more text after it";
  for (int threads : {1, 2}) {
    Scanned scanned = scan_both(tree, content, {"needle"}, 64 << 10, threads);
    EXPECT_EQ(scanned.fromStart, 1);
    EXPECT_EQ(scanned.inPieces, 1) << threads << " threads";
    scanned = scan_both(tree, content, {"needles"}, 64 << 10, threads);
    EXPECT_EQ(scanned.inPieces, -1) << threads << " threads";
  }
}

// What a piece is given before it: enough bytes for characters that fold shorter (nine KELVIN
// SIGNs, 27 bytes, fold to the 9 "k" that end the needle's first 9 bytes before the edge), and
// starting where a character starts: cut inside "É", its second byte would stand for itself
// and match a needle that starts with that byte, where the scan from the start folds "É"
// whole to "é".
TEST(PieceScanTest, TheTextCarriedIntoAPieceIsLongEnoughAndStartsWhereACharacterStarts) {
  TempTree tree;
  std::string kelvins;
  for (int i = 0; i < 10; ++i) kelvins += "\xE2\x84\xAA";
  std::string content(kSearchBlockSize - 27, 'x');
  content += kelvins + std::string(kSearchBlockSize, 'y');
  Scanned scanned = scan_both(tree, content, {"kkkkkkkkkk"}, kSearchBlockSize, 2);
  EXPECT_EQ(scanned.fromStart, 1);
  EXPECT_EQ(scanned.inPieces, 1);

  const std::string needle = "\x89" "abc";  // the text carried is 4 * 3 + 3 = 15 bytes
  content.assign(kSearchBlockSize - 16, 'x');
  content += "\xC3\x89" "abc" + std::string(11, 'x');  // the 15 bytes before the edge start at \x89
  content += std::string(kSearchBlockSize, 'y');
  scanned = scan_both(tree, content, {needle}, kSearchBlockSize, 2);
  EXPECT_EQ(scanned.fromStart, -1);
  EXPECT_EQ(scanned.inPieces, -1);
}
