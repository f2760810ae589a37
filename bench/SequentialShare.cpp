// How much of a search cannot be shared among threads: the CPU time the walking thread spends
// listing folders, handing files over and reporting in order (not reading files, which it
// also does), in a search on two threads, against the CPU time of the whole search on one
// thread (medians of ROUNDS).
//   sequential-share FOLDER TEXT [ROUNDS]   (every installed text type)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <vector>

#include "platform/MimeType.h"
#include "platform/Message.h"
#include "search/BlockScanner.h"
#include "search/Engine.h"

namespace {

class CountingSink : public SearchSink {
 public:
  void Matched(entry_ref&&) override { ++matches; }
  int matches = 0;
};

std::vector<std::string> text_types() {
  std::vector<std::string> names;
  BMessage installed;
  const char* type;
  if (BMimeType::GetInstalledTypes("text", &installed) == B_OK)
    for (int32 i = 0; installed.FindString("types", i, &type) == B_OK; ++i) names.emplace_back(type);
  return names;
}

double cpu_seconds(int who) {
  rusage usage;
  getrusage(who, &usage);
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The sequential CPU time and the CPU time of the whole process during one search.
std::pair<double, double> search_cpu(const char* folder, const char* text, int threads) {
  BDirectory dir(folder);
  BList strings;
  std::string copy = text;
  strings.AddItem(copy.data());
  CountingSink sink;
  SearchOptions options;
  options.threads = threads;
  double process0 = cpu_seconds(RUSAGE_SELF);
  SearchOutcome outcome = search_folder(dir, TypeSet(text_types()), SearchStrings(strings), sink, options);
  return {outcome.sequentialSeconds, cpu_seconds(RUSAGE_SELF) - process0};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fputs("usage: sequential-share FOLDER TEXT [ROUNDS]\n", stderr);
    return 2;
  }
  int rounds = argc > 3 ? std::max(1, atoi(argv[3])) : 5;
  search_cpu(argv[1], argv[2], 1);  // warms the cache and the type database
  std::vector<double> single, walk, pooled;
  for (int round = 0; round < rounds; ++round) {
    single.push_back(search_cpu(argv[1], argv[2], 1).second);
    auto [walker, all] = search_cpu(argv[1], argv[2], 2);
    walk.push_back(walker);
    pooled.push_back(all);
  }
  double share = median(walk) / median(single);
  printf("one thread, CPU s:                       %.3f\n", median(single));
  printf("two threads, sequential CPU s:            %.3f (all threads %.3f)\n", median(walk), median(pooled));
  printf("sequential share: %.1f%% (at most %.1fx on 8 cores, by Amdahl's law)\n", share * 100,
         1 / (share + (1 - share) / 8));
  return 0;
}
