// The content scanner against a plain reference: the block search and the file scan written
// step by step, with 1024-byte reads and a list of tails, as the slow obvious version.
#include <cstring>
#include <deque>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

#include "TempTree.h"
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
  BlockScanner scanner(list);
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
    ASSERT_EQ(scanner.Carried(), expected.carried[block]) << what << " after block " << block;
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
    size_t length = random() % 4200;
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
    ASSERT_EQ(scan_file(tree, content, strings), ref_file_scan(content, strings).result) << what;
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
    BlockScanner byBlock(list), byRun(list);
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
    ssize_t expected = -1;
    for (size_t b = 0; b < blocks && expected < 0; ++b)
      if (byBlock.Scan(run.data() + b * kSearchBlockSize, kSearchBlockSize)) expected = ssize_t(b);
    ASSERT_EQ(byRun.ScanRun(run.data(), blocks), expected) << "round " << round;
    if (expected < 0) {
      ASSERT_EQ(byRun.Carried(), byBlock.Carried()) << "round " << round;
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
      {"UTF-8 is not folded", "\xc3\x89t\xc3\xa9", {"\xc3\xa9T\xc3\xa9"}, -1},
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

}  // namespace
