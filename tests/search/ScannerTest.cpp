// The content scanner against a plain reference: the block search and the file scan written
// step by step, with 1024-byte reads and a list of tails, as the slow obvious version.
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <set>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

#include "TempTree.h"
#include <chrono>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "search/BlockScanner.h"
#include "search/Search.h"

namespace {

int ref_fold(char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : static_cast<unsigned char>(c); }

int32 ref_block_search(const char* text, const char*& pattern) {
  size_t s = 0, j = 0;
  for (;;) {
    if (pattern[j] == '\0') return int32(s);
    if (text[s + j] == '\0') {
      if (j == 0) return -1;
      pattern += j;
      return -2;
    }
    if (ref_fold(text[s + j]) == ref_fold(pattern[j])) {
      ++j;
    } else {
      ++s;
      j = 0;
    }
  }
}

struct RefScan {
  int32 result = -1;
  size_t matchBlock = 0;                          // the block the match completed in
  std::vector<std::vector<const char*>> carried;  // the carried list after each searched block
};

RefScan ref_file_scan(const std::string& content, const std::vector<const char*>& strings) {
  RefScan scan;
  std::deque<const char*> carried;
  for (size_t block = 0;; ++block) {
    size_t offset = block * kSearchBlockSize;
    size_t got = offset < content.size() ? std::min(kSearchBlockSize, content.size() - offset) : 0;
    if (got == 0) return scan;
    char text[kSearchBlockSize + 1];
    memcpy(text, content.data() + offset, got);
    text[got] = '\0';
    size_t tails = carried.size();
    for (size_t t = 0; t < tails; ++t) {
      const char* tail = carried.front();
      carried.pop_front();
      for (size_t k = 0;; ++k) {
        if (tail[k] == '\0') return scan.result = 1, scan.matchBlock = block, scan;
        if (text[k] == '\0') {
          carried.push_back(tail + k);
          break;
        }
        if (ref_fold(tail[k]) != ref_fold(text[k])) break;
      }
    }
    for (const char* string : strings) {
      const char* from = text;
      const char* pattern = string;
      int32 found = ref_block_search(from, pattern);
      while (found == -2) {
        carried.push_back(pattern);
        from += strlen(from) - size_t(pattern - string) + 1;
        pattern = string;
        found = ref_block_search(from, pattern);
      }
      if (found >= 0) return scan.result = 1, scan.matchBlock = block, scan;
    }
    scan.carried.emplace_back(carried.begin(), carried.end());
  }
}

// Feeds the real scanner the same blocks and checks it agrees with the reference after each.
void expect_scanner_agrees(const std::string& content, const std::vector<const char*>& strings,
                           const std::string& what) {
  RefScan expected = ref_file_scan(content, strings);
  BList list;
  for (const char* s : strings) list.AddItem(const_cast<char*>(s));
  SearchStrings ready(list);
  BlockScanner scanner(ready);
  for (size_t block = 0;; ++block) {
    size_t offset = block * kSearchBlockSize;
    if (offset >= content.size()) {
      ASSERT_EQ(expected.result, -1) << what;
      return;
    }
    bool found = scanner.Scan(content.data() + offset,
                              std::min(kSearchBlockSize, content.size() - offset));
    if (found) {
      ASSERT_EQ(expected.result, 1) << what;
      ASSERT_EQ(expected.matchBlock, block) << what;
      return;
    }
    ASSERT_LT(block, expected.carried.size()) << what << ": the reference matched here";
  }
}

int32 scan_file(const TempTree& tree, const std::string& content,
                const std::vector<const char*>& strings) {
  std::string path = tree.file("scanned", content, "");
  BFile file(path.c_str(), B_READ_ONLY);
  BList list;
  for (const char* s : strings) list.AddItem(const_cast<char*>(s));
  return f_seek(file, list);
}

// The file scan_file wrote, scanned by a walk whose habit reads heads first and by one whose
// habit reads whole files: both must give f_seek's answer, and the head they keep is the file's.
void expect_habits_agree(const TempTree& tree, const std::string& content,
                         const std::vector<const char*>& strings, int32 expected, const std::string& what) {
  std::string path = tree.path("scanned");
  BList list;
  for (const char* s : strings) list.AddItem(const_cast<char*>(s));
  SearchStrings ready(list);
  for (bool headsFirst : {false, true}) {
    BFile file(path.c_str(), B_READ_ONLY);
    ScanHabit habit{headsFirst};
    char head[kHeadScanSize];
    size_t headSize;
    ASSERT_EQ(f_seek(file, ready, off_t(content.size()), &habit, head, sizeof head, &headSize), expected)
        << what << (headsFirst ? ", heads first" : ", whole files");
    size_t kept = std::min(content.size(), kHeadScanSize);
    ASSERT_EQ(std::string(head, headSize), content.substr(0, kept)) << what;
    // A match in the head teaches the habit to read heads first; anything else, whole files.
    bool inHead = expected == 1 && ref_file_scan(content.substr(0, kept), strings).result == 1;
    ASSERT_EQ(habit.matchesInHeads, inHead) << what;
  }
}

std::string random_text(std::mt19937& random, const std::string& alphabet, size_t length) {
  std::string text(length, ' ');
  for (char& c : text) c = alphabet[random() % alphabet.size()];
  return text;
}

TEST(BlockSearchTest, AgreesWithTheReferenceOnGeneratedTexts) {
  std::mt19937 random(2024);
  // Letters in both cases, and bytes whose low bits mimic a letter's: '@' and '`', '[' and '{',
  // and a UTF-8 sequence, which must compare exactly.
  const std::string alphabets[] = {"aAb", "abAB", "aab@`[{", "xyXY\xc3\xa9\xc3\x89"};
  for (int round = 0; round < 40000; ++round) {
    const std::string& alphabet = alphabets[round % 4];
    std::string text = random_text(random, alphabet, random() % 40);
    std::string pattern = random_text(random, alphabet, random() % 6);
    const char* expectedPattern = pattern.c_str();
    char* actualPattern = pattern.data();
    int32 expected = ref_block_search(text.c_str(), expectedPattern);
    int32 actual = f_seek(text.c_str(), actualPattern);
    ASSERT_EQ(actual, expected) << "text '" << text << "' pattern '" << pattern << "'";
    ASSERT_EQ(actualPattern, expectedPattern) << "text '" << text << "' pattern '" << pattern << "'";
  }
}

TEST(BlockSearchTest, ResultsForTheCasesThatDefineIt) {
  struct Case {
    const char* text;
    const char* pattern;
    int32 result;
    size_t advanced;
  } cases[] = {
      {"", "", 0, 0},          {"abc", "", 0, 0},       {"aab", "ab", 1, 0},
      {"aaab", "aab", 1, 0},   {"xxHeL", "hello", -2, 3}, {"abc", "abc", 0, 0},
      {"xyz", "abc", -1, 0},   {"ab", "abc", -2, 2},    {"abab", "abac", -2, 2},
  };
  for (const Case& c : cases) {
    std::string pattern = c.pattern;
    char* p = pattern.data();
    EXPECT_EQ(f_seek(c.text, p), c.result) << c.text << " / " << c.pattern;
    EXPECT_EQ(size_t(p - pattern.data()), c.advanced) << c.text << " / " << c.pattern;
  }
}

TEST(FileScanTest, AgreesWithTheReferenceAcrossBlockBoundaries) {
  std::mt19937 random(7);
  TempTree tree;
  std::string longPattern = random_text(random, "ab", 2500);
  for (int round = 0; round < 1500; ++round) {
    // Some files outgrow the head a scan may read first.
    size_t length = random() % (round % 4 == 0 ? 9000 : 4200);
    // Small alphabets give partial matches everywhere; a larger one gives rare matches that
    // often complete in a later block than they began in.
    const char* alphabets[] = {"aAbB", "aaab", "abcdefgh"};
    std::string content = random_text(random, alphabets[round % 3], length);
    for (size_t n = random() % 3; n > 0 && length > 0; --n) content[random() % length] = '\0';
    std::vector<std::string> patterns;
    for (size_t n = random() % 3; n > 0; --n) patterns.push_back(random_text(random, round % 3 == 2 ? "aBcD" : "aAb", 1 + random() % 5));
    if (round % 50 == 0) {
      patterns.push_back(longPattern);
      // Plant the long pattern across three blocks in some rounds.
      content = random_text(random, "ab", 700) + longPattern + content;
    }
    std::vector<const char*> strings;
    for (const std::string& p : patterns) strings.push_back(p.c_str());
    std::string what = "round " + std::to_string(round);
    expect_scanner_agrees(content, strings, what);
    int32 expected = ref_file_scan(content, strings).result;
    ASSERT_EQ(scan_file(tree, content, strings), expected) << what;
    expect_habits_agree(tree, content, strings, expected, what);
  }
}

TEST(FileScanTest, ARunOfWholeBlocksScansAsItsBlocksOneByOne) {
  std::mt19937 random(99);
  std::string longPattern = random_text(random, "ab", 1030);  // long enough to outlive a block
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::string> patterns;
    for (size_t n = 1 + random() % 3; n > 0; --n)
      patterns.push_back(random_text(random, "aAbcD", random() % 7));
    if (round % 10 == 0) patterns.push_back(longPattern);
    BList list;
    for (std::string& p : patterns) list.AddItem(p.data());
    SearchStrings ready(list);
    BlockScanner byBlock(ready), byRun(ready);
    // A first block leaves tails for the run to take up.
    std::string lead = random_text(random, "ab", 1 + random() % kSearchBlockSize);
    bool leadFound = byBlock.Scan(lead.data(), lead.size());
    ASSERT_EQ(byRun.Scan(lead.data(), lead.size()), leadFound);
    if (leadFound) continue;
    size_t blocks = 1 + random() % 5;
    std::string run = random_text(random, round % 2 ? "abcd" : "aaab", blocks * kSearchBlockSize);
    // Plant a string across a block boundary, where a run and its blocks could part ways.
    const std::string& planted = patterns[random() % patterns.size()];
    size_t boundary = (1 + random() % blocks) * kSearchBlockSize;
    if (round % 3 == 0 && planted.size() <= boundary && planted.size() > 1)
      run.replace(boundary - 1 - random() % (planted.size() - 1), planted.size(), planted);
    run.resize(blocks * kSearchBlockSize, 'c');
    bool expected = false;
    for (size_t b = 0; b < blocks && !expected; ++b)
      expected = byBlock.Scan(run.data() + b * kSearchBlockSize, kSearchBlockSize);
    ASSERT_EQ(byRun.ScanRun(run.data(), blocks), expected) << "round " << round;
    if (!expected) {
      // What either carries on into the next block is the same.
      std::string next = random_text(random, "abcd", kSearchBlockSize);
      ASSERT_EQ(byRun.Scan(next.data(), next.size()), byBlock.Scan(next.data(), next.size())) << "round " << round;
    }
  }
}

std::string at_offset(size_t offset, const std::string& text, size_t total = 2048) {
  std::string content(total, '.');
  content.replace(offset, text.size(), text);
  return content;
}

TEST(FileScanTest, TheCasesThatDefineIt) {
  TempTree tree;
  std::string longString(1500, 'q');
  longString += "end";
  struct Case {
    const char* what;
    std::string content;
    std::vector<const char*> strings;
    int32 result;
  } cases[] = {
      {"empty string, one byte", "x", {""}, 1},
      {"empty string, one NUL byte", std::string(1, '\0'), {""}, 1},
      {"empty file", "", {"", "a"}, -1},
      {"no strings", "anything", {}, -1},
      {"hello across the first boundary", at_offset(1021, "hello"), {"hello"}, 1},
      {"HELLO across the first boundary", at_offset(1021, "hello"), {"HELLO"}, 1},
      {"aab split as aa|ab", at_offset(1022, "aab"), {"aab"}, 1},
      {"aab split after aaa", at_offset(1021, "aaab"), {"aab"}, 1},
      {"over three blocks", at_offset(100, longString, 4096), {longString.c_str()}, 1},
      {"NUL hides the rest of its block", at_offset(10, std::string("\0needle", 7)), {"needle"}, -1},
      {"needle after the hidden part", at_offset(10, std::string("\0", 1)) + "needle", {"needle"}, 1},
      {"second string matches", "xx Second yy", {"first", "second"}, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ref_file_scan(c.content, c.strings).result, c.result) << "reference: " << c.what;
    EXPECT_EQ(scan_file(tree, c.content, c.strings), c.result) << c.what;
  }
}

TEST(FileScanTest, APartialMatchRunningIntoANulContinuesInTheNextBlock) {
  TempTree tree;
  std::string content(1024, '.');
  content.replace(7, 4, std::string("hel\0", 4));  // block text ends with "hel" at offset 10
  content += "lo and more";
  EXPECT_EQ(scan_file(tree, content, {"hello"}), 1);
  EXPECT_EQ(ref_file_scan(content, {"hello"}).result, 1);
}

TEST(FileScanTest, AFileWithoutStringsIsReadToItsEndAndAnUnopenedFileDoesNotMatch) {
  TempTree tree;
  std::string path = tree.file("big", std::string(200000, 'z'), "");
  BFile file(path.c_str(), B_READ_ONLY);
  BList none;
  EXPECT_EQ(f_seek(file, none), -1);
  EXPECT_EQ(file.Position(), 200000);

  BFile missing(tree.path("missing").c_str(), B_READ_ONLY);
  BList strings;
  strings.AddItem(const_cast<char*>(""));
  EXPECT_EQ(f_seek(missing, strings), -1);
}

TEST(MatchTest, PrefixesCountLetterCase) {
  EXPECT_TRUE(f_match("text/html", "text/html"));
  EXPECT_TRUE(f_match("text/htmlh", "text/html"));
  EXPECT_FALSE(f_match("text/HTML", "text/html"));
  EXPECT_FALSE(f_match("Text/html", "text/html"));
  EXPECT_FALSE(f_match("text/htm", "text/html"));
  EXPECT_FALSE(f_match("", "text/html"));
  EXPECT_TRUE(f_match("anything", ""));
  EXPECT_TRUE(f_match("", ""));
}

// ---- Letter case in every script

// The plain reference: the stream of the blocks' texts, each character folded by ICU's own
// UTF-8 reader, bytes of a malformed sequence standing for themselves, and a plain search.
std::string ref_fold(const std::string& text) {
  std::string out;
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  int32_t length = int32_t(text.size());
  for (int32_t i = 0; i < length;) {
    int32_t start = i;
    UChar32 c;
    U8_NEXT(p, i, length, c);
    if (c < 0) {
      for (int32_t k = start; k < i; ++k) out += char(p[k] >= 'A' && p[k] <= 'Z' ? p[k] + 32 : p[k]);
      continue;
    }
    c = u_foldCase(c, U_FOLD_CASE_DEFAULT);
    char bytes[4];
    int32_t n = 0;
    U8_APPEND_UNSAFE(bytes, n, c);
    out.append(bytes, size_t(n));
  }
  return out;
}

int32 ref_unicode_scan(const std::string& content, const std::string& needle) {
  std::string stream;
  for (size_t offset = 0; offset < content.size(); offset += kSearchBlockSize) {
    std::string block = content.substr(offset, kSearchBlockSize);
    stream += block.substr(0, block.find('\0'));
  }
  if (content.empty()) return -1;
  return ref_fold(stream).find(ref_fold(needle)) != std::string::npos ? 1 : -1;
}

std::string random_pieces(std::mt19937& random, const std::vector<std::string>& pieces, size_t count) {
  std::string text;
  while (count-- > 0) text += pieces[random() % pieces.size()];
  return text;
}

TEST(CaseFoldTest, EveryScriptIsFolded) {
  TempTree tree;
  struct Case {
    const char* what;
    std::string content, needle;
    int32 result;
  } cases[] = {
      {"French", "L'\xc3\x89" "COLE DES FILLES", "\xc3\xa9" "cole", 1},
      {"French, typed in capitals", "une \xc3\xa9" "cole", "\xc3\x89" "COLE", 1},
      {"Russian", "\xd0\x9f\xd0\xa0\xd0\x98\xd0\x92\xd0\x95\xd0\xa2, world",
       "\xd0\xbf\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82", 1},
      {"Greek final sigma", "\xce\x9f\xce\x94\xce\x9f\xce\xa3", "\xce\xbf\xce\xb4\xce\xbf\xcf\x82", 1},
      {"KELVIN SIGN for k", "5 \xe2\x84\xaa" "elvin", "kelvin", 1},
      {"LONG S for s", "Congre\xc5\xbf\xc5\xbf", "congress", 1},
      {"no full folding: sharp s is not ss", "STRASSE", "stra\xc3\x9f" "e", -1},
      {"Latin-1 bytes stand for themselves", "L'\xc9" "COLE", "cole", 1},
      {"a Latin-1 letter is not its UTF-8 twin", "L'\xc9" "COLE", "\xc3\xa9" "cole", -1},
      {"invalid bytes around a match", "\xff\xc3" "ABC\xe2\x84" "d\x80", "\xc3" "abc\xe2\x84" "D", 1},
      {"invalid bytes do not fold", "\xc3\x28", "\xc3\x28", 1},
      {"a character split by a block end", std::string(1023, '.') + "\xc3\x89" "COLE", "\xc3\xa9" "cole", 1},
      {"a NUL inside a match hides the rest of the block",
       std::string(500, '.') + "\xc3\x89" "CO" + std::string(1, '\0') + std::string(519, 'x') + "LE",
       "\xc3\xa9" "cole", 1},
      {"a NUL inside a character", std::string(500, '.') + "\xc3" + std::string(1, '\0') + std::string(522, 'x') + "\x89" "COLE",
       "\xc3\xa9" "cole", 1},
      {"an unfinished character at the end of the file", "abc\xe2\x84", "C\xe2\x84", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ref_unicode_scan(c.content, c.needle), c.result) << "reference: " << c.what;
    EXPECT_EQ(scan_file(tree, c.content, {c.needle.c_str()}), c.result) << c.what;
  }
}

// Random texts of letters with their case partners, malformed bytes and NULs, across block
// ends, against the plain reference.
TEST(CaseFoldTest, AgreesWithThePlainReferenceOnGeneratedTexts) {
  std::mt19937 random(18);
  TempTree tree;
  const std::vector<std::string> pieces = {"a", "A", "k", "K", "\xe2\x84\xaa", "s", "\xc5\xbf", "S", "\xc3\xa9", "\xc3\x89",
                                           "\xd0\xbf", "\xd0\x9f", "\xc3", "\x89", "\xe2\x84", std::string(1, '\0'), "x"};
  for (int round = 0; round < 1500; ++round) {
    std::string content = random_pieces(random, pieces, random() % 2600);
    std::string needle = random_pieces(random, pieces, 1 + random() % 4);
    needle = needle.substr(0, needle.find('\0'));
    if (round % 4 == 0 && content.size() > 10) {  // planted, in the other case, across a block end maybe
      size_t at = std::min(content.size() - 1, size_t(1020 + random() % 8));
      content.insert(at, needle);
    }
    ASSERT_EQ(scan_file(tree, content, {needle.c_str()}), ref_unicode_scan(content, needle))
        << "round " << round << " needle '" << needle << "'";
  }
}

// Needles of thousands of characters over a two-letter alphabet leave a partial match at
// nearly every block end; the scan must agree with the reference and stay linear.
TEST(CaseFoldTest, LongNeedlesAgreeWithTheReferenceAndStayLinear) {
  std::mt19937 random(5000);
  TempTree tree;
  for (int round = 0; round < 200; ++round) {
    std::string needle = random_text(random, round % 2 ? "aAb" : "ab", 1 + random() % 5000);
    std::string content = random_text(random, "aAb", random() % 6000);
    if (round % 3 == 0) content.insert(random() % (content.size() + 1), needle);
    if (round % 5 == 0) content = std::string(content.size(), 'a') + needle.substr(0, needle.size() / 2);
    for (size_t n = random() % 3; n > 0 && !content.empty(); --n) content[random() % content.size()] = '\0';
    std::vector<const char*> strings = {needle.c_str()};
    ASSERT_EQ(scan_file(tree, content, strings), ref_file_scan(content, strings).result) << "round " << round;
  }
  // A megabyte of "a" ending in a 16001-character needle of a's and a "b": quadratic work
  // took seconds here.
  std::string needle = std::string(16000, 'a') + "b";
  std::string content = std::string(1 << 20, 'a') + "b";
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(scan_file(tree, content, {needle.c_str()}), 1);
  EXPECT_EQ(scan_file(tree, content.substr(0, content.size() - 1), {needle.c_str()}), -1);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 3.0);
}

// The lines (numbered from 1) of a file in which ripgrep -i -F finds a needle.
std::set<int> ripgrep_lines(const std::string& file, const std::string& needle, const std::string& patternFile) {
  std::ofstream(patternFile, std::ios::trunc) << needle << "\n";
  std::string command = "rg -i -F -n --no-config -f '" + patternFile + "' '" + file + "'";
  std::set<int> lines;
  FILE* out = popen(command.c_str(), "r");
  char line[4096];
  while (out != nullptr && fgets(line, sizeof line, out) != nullptr) lines.insert(atoi(line));
  if (out != nullptr) pclose(out);
  return lines;
}

// Every character that simple case folding changes, and its folding, each on a line of its
// own: each folded form is searched for in every line (as the whole text of a file) and the
// lines found are compared with what ripgrep -i -F finds. One file of lines rather than a file
// a character keeps ripgrep's 1,400 runs to seconds.
TEST(CaseFoldTest, FindsWhatRipgrepFindsForEveryFoldedCharacter) {
  if (system("rg --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ripgrep is not installed";
  TempTree tree;
  std::vector<std::string> lines;
  std::set<std::string> needles;
  for (UChar32 c = 0; c <= 0x10ffff; ++c) {
    UChar32 folded = u_foldCase(c, U_FOLD_CASE_DEFAULT);
    if (folded == c || U_IS_SURROGATE(c)) continue;
    for (UChar32 each : {c, folded}) {
      char bytes[4];
      int32_t n = 0;
      U8_APPEND_UNSAFE(bytes, n, each);
      lines.emplace_back(bytes, size_t(n));
    }
    needles.insert(lines.back());
  }
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  std::string corpus = tree.file("corpus", all, "");
  int differences = 0;
  for (const std::string& needle : needles) {
    std::set<int> ours;
    BList list;
    list.AddItem(const_cast<char*>(needle.c_str()));
    SearchStrings ready(list);
    for (size_t i = 0; i < lines.size(); ++i) {
      BlockScanner scanner(ready);
      if (scanner.Scan(lines[i].data(), lines[i].size()) || scanner.Finish()) ours.insert(int(i + 1));
    }
    std::set<int> theirs = ripgrep_lines(corpus, needle, tree.path("pattern"));
    if (ours != theirs && ++differences <= 10) {
      std::string a, b;
      for (int n : ours) a += lines[size_t(n - 1)] + " ";
      for (int n : theirs) b += lines[size_t(n - 1)] + " ";
      ADD_FAILURE() << "needle " << needle << ": ours " << a << "ripgrep's " << b;
    }
  }
  EXPECT_EQ(differences, 0) << "of " << needles.size() << " needles";
}

}  // namespace
