#include <chrono>
#include <gtest/gtest.h>

#include "TempTree.h"
#include "search/MatchLine.h"

namespace {

MatchLine line_of(const std::string& content, const std::string& text, MatchLineStatus expected,
                  size_t limit = 1 << 20) {
  TempTree tree;
  MatchLine line;
  EXPECT_EQ(f_match_line(tree.file("f", content).c_str(), text, limit, &line), expected);
  return line;
}

TEST(MatchLineTest, TheFirstLineThatHoldsTheTextIgnoringCase) {
  MatchLine line = line_of("first line\r\nthe Second NEEDLE here\r\nneedle again\n", "needle",
                           MatchLineStatus::kFound);
  EXPECT_EQ(line.before, "the Second ");
  EXPECT_EQ(line.match, "NEEDLE");
  EXPECT_EQ(line.after, " here");  // without the carriage return
  EXPECT_FALSE(line.cutBefore || line.cutAfter);

  line = line_of("needle at the start", "NEEDLE", MatchLineStatus::kFound);
  EXPECT_EQ(line.before, "");
  EXPECT_EQ(line.after, " at the start");
}

TEST(MatchLineTest, ALongLineIsCutAroundTheMatch) {
  std::string content = std::string(500, 'a') + "needle" + std::string(500, 'b');
  MatchLine line = line_of(content, "needle", MatchLineStatus::kFound);
  EXPECT_TRUE(line.cutBefore);
  EXPECT_TRUE(line.cutAfter);
  EXPECT_EQ(line.match, "needle");
  EXPECT_LE(line.before.size() + line.match.size() + line.after.size(), kMatchLineWidth);
  EXPECT_GT(line.after.size(), line.before.size());  // more of what follows than precedes
}

TEST(MatchLineTest, OnlyTheFirstBytesAreReadAndAMissingFileIsSaid) {
  line_of(std::string(2000, 'x') + "needle", "needle", MatchLineStatus::kNotFound, 1000);
  MatchLine line;
  EXPECT_EQ(f_match_line("/no/such/file", "needle", 1000, &line), MatchLineStatus::kUnreadable);
}

// The line shown is the line the search matched, case folded in every script; the match, as
// the file spells it, may be longer or shorter than the text.
TEST(MatchLineTest, AFoldedMatchIsShownAsTheFileSpellsIt) {
  MatchLine line = line_of("first\nune \xc3\x89" "COLE ici\n", "\xc3\xa9" "cole", MatchLineStatus::kFound);
  EXPECT_EQ(line.before, "une ");
  EXPECT_EQ(line.match, "\xc3\x89" "COLE");
  EXPECT_EQ(line.after, " ici");
  line = line_of("x\n5 \xe2\x84\xaa" "elvin and Congre\xc5\xbf\xc5\xbf\n", "congress", MatchLineStatus::kFound);
  EXPECT_EQ(line.match, "Congre\xc5\xbf\xc5\xbf");
  EXPECT_EQ(line.before, "5 \xe2\x84\xaa" "elvin and ");
  line = line_of("x\n5 \xe2\x84\xaa" "elvin\n", "KELVIN", MatchLineStatus::kFound);
  EXPECT_EQ(line.match, "\xe2\x84\xaa" "elvin");
  EXPECT_EQ(line.after, "");
}

// A long text over a long file: linear, so a tooltip never stalls on it.
TEST(MatchLineTest, ALongTextInALargeFileIsFoundInLinearTime) {
  TempTree tree;
  std::string path = tree.file("f", std::string((1 << 20) - 1, 'a') + "b");  // the most a tooltip reads
  MatchLine line;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(f_match_line(path.c_str(), std::string(16000, 'a') + "b", 1 << 20, &line), MatchLineStatus::kFound);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 2.0);
  EXPECT_EQ(line.after, "");
  EXPECT_TRUE(line.cutBefore);
}

}  // namespace
