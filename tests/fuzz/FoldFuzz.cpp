// libFuzzer target: the letter-case folding and the stream matcher on arbitrary bytes, as a
// file's content would come. The first bytes choose a needle length and where the text is cut
// into pieces; then, against plain references:
//  - folding the text piece by piece gives what folding it whole gives;
//  - the matcher fed the folded pieces finds the needle exactly when a plain search of the
//    whole folded text does, and FindIn gives the same first offset.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "search/BlockScanner.h"
#include "search/CaseFold.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  size_t needleLength = data[0] % 24, cuts = data[1] % 8;
  std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
  if (needleLength > bytes.size()) return 0;
  std::string needle = fold_case(bytes.substr(0, needleLength));
  std::string text = bytes.substr(needleLength);

  std::vector<size_t> at;
  for (size_t i = 0; i < cuts && !text.empty(); ++i) at.push_back((size_t(data[2 + i % (size - 2)]) * 7919 + i * 131) % text.size());
  std::sort(at.begin(), at.end());
  Utf8Folder folder;
  std::string pieces;
  size_t from = 0;
  FoldedNeedle ready(needle);
  size_t matched = 0;
  bool found = false;
  auto feed = [&](const std::string& folded) {
    pieces += folded;
    if (!found && ready.Feed(&matched, folded.data(), folded.size())) found = true;
  };
  for (size_t cut : at) {
    std::string folded;
    folder.Fold(text.data() + from, cut - from, &folded);
    feed(folded);
    from = cut;
  }
  std::string folded;
  folder.Fold(text.data() + from, text.size() - from, &folded);
  folder.Finish(&folded);
  feed(folded);

  std::string whole = fold_case(text);
  if (pieces != whole) abort();
  size_t plain = whole.find(needle);
  if (found != (plain != std::string::npos)) abort();
  ssize_t first = ready.FindIn(whole.data(), whole.size());
  if ((first < 0 ? std::string::npos : size_t(first)) != plain) abort();
  return 0;
}
