// The time from pressing "Search" until the list is filled, next to the engine's own time on
// the same folder, in one process:
//   QT_QPA_PLATFORM=offscreen tarnwickloft-window-bench FOLDER TEXT [ROUNDS] [OPTION]...
//     --all-types   every text type selected (otherwise text/plain only, as in bench/run.sh)
//     --type TYPE   this type selected instead of text/plain; may be repeated
//     --show-paths  "Show Paths" marked: the labels are full paths
//     --find PATH   tarnwickloft-find timed in the same rounds, with the same types
//     --stop MS     rounds that press Stop MS milliseconds into the search, timed to idle
// With matches, the time to the first one is reported too: the engine's first report, and the
// window's first item in the list.
// The first search of the process is reported on its own: the later ones find the MIME
// database loaded and the content guesses cached, as a user refining the text does.
#include <QApplication>
#include <QElapsedTimer>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/interface/MenuItem.h"
#include "platform/MimeType.h"
#include "platform/interface/Application.h"
#include "platform/interface/Controls.h"
#include "platform/interface/ListView.h"
#include "search/BlockScanner.h"
#include "search/Engine.h"
#include "search/Search.h"
#include "window/Commands.h"
#include "window/TarnWin.h"
#include "window/TypeOrder.h"
#include "window/WindowArchive.h"

namespace {

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The engine with the window's type order kept, as the window's search runs it, without
// the window.
class OrderSink : public TypeOrderKeeper {
 public:
  OrderSink(TypeRotation& rotation, const QElapsedTimer& timer, double* first)
      : TypeOrderKeeper(rotation, nullptr), timer_(timer), first_(first) {}
  void Matched(entry_ref&&) override {
    if (*first_ < 0) *first_ = double(timer_.nsecsElapsed()) / 1e9;
  }

 private:
  const QElapsedTimer& timer_;
  double* first_;
};

// The whole search's time; first: the time to the first match, -1 without one.
double engine_seconds(const char* folder, const char* text, BList& types, double* first) {
  QElapsedTimer timer;
  timer.start();
  BDirectory dir(folder);
  BList strings;
  std::string copy = text;
  strings.AddItem(copy.data());
  std::vector<std::string> labels;
  for (int32 i = 0; i < types.CountItems(); ++i) labels.push_back(static_cast<BMenuItem*>(types.ItemAt(i))->Label());
  TypeRotation rotation(labels);
  *first = -1;
  OrderSink sink(rotation, timer, first);
  SearchOptions options;
  options.reportUnsettled = rotation.MayReorder();
  options.typesOfUnmatched = rotation.MayReorder();
  search_folder(dir, TypeSet(rotation.Types()), SearchStrings(strings), sink, options);
  sink.Finish();
  return double(timer.nsecsElapsed()) / 1e9;
}

BListView* matches(TarnWin* window) { return static_cast<BListView*>(window->FindView("LV_Matches")); }

// From posting the Search button's message to the list drawn with its items; first: to the
// first item in the list, -1 without one.
double window_seconds(TarnWin* window, double* first) {
  QElapsedTimer timer;
  timer.start();
  *first = -1;
  window->PostMessage(four_cc("srcb"));
  while (window->CountQueuedMessages() > 0 || window->IsDispatching() || window->IsSearching()) {
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (*first < 0 && matches(window)->CountItems() > 0) *first = double(timer.nsecsElapsed()) / 1e9;
  }
  QApplication::processEvents();  // layout and paint of the filled list
  return double(timer.nsecsElapsed()) / 1e9;
}

// From pressing Stop, stopAfter into a search, until the window is idle again.
double stop_seconds(TarnWin* window, int stopAfter) {
  window->PostMessage(four_cc("srcb"));
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < stopAfter) QApplication::processEvents(QEventLoop::AllEvents, 5);
  if (!window->IsSearching()) return -1;  // over before it could be stopped
  timer.restart();
  window->PostMessage(four_cc("srcb"));
  while (window->IsSearching()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  return double(timer.nsecsElapsed()) / 1e9;
}

// tarnwickloft-find on the folder with the window's types, its output thrown away.
double find_seconds(const char* find, const char* folder, const char* text, const std::vector<const char*>& types,
                    bool allTypes) {
  std::vector<std::string> args{find};
  if (!allTypes)
    for (const char* type : types) args.insert(args.end(), {"--type", type});
  args.insert(args.end(), {"--", folder, text});
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  QElapsedTimer timer;
  timer.start();
  pid_t pid;
  int status = 0;
  if (posix_spawn(&pid, find, &actions, nullptr, argv.data(), environ) != 0 || waitpid(pid, &status, 0) != pid) status = -1;
  posix_spawn_file_actions_destroy(&actions);
  return status == -1 ? -1 : double(timer.nsecsElapsed()) / 1e9;
}

double lowest(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }
double highest(const std::vector<double>& values) { return *std::max_element(values.begin(), values.end()); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fputs("usage: tarnwickloft-window-bench FOLDER TEXT [ROUNDS] [--all-types] [--show-paths] [--type TYPE]...\n", stderr);
    return 2;
  }
  int rounds = argc > 3 ? atoi(argv[3]) : 5;
  bool allTypes = false, showPaths = false;
  const char* find = nullptr;
  int stopAfter = -1;
  std::vector<const char*> types;
  for (int i = 4; i < argc; ++i) {
    allTypes |= strcmp(argv[i], "--all-types") == 0;
    showPaths |= strcmp(argv[i], "--show-paths") == 0;
    if (strcmp(argv[i], "--type") == 0 && i + 1 < argc) types.push_back(argv[++i]);
    if (strcmp(argv[i], "--find") == 0 && i + 1 < argc) find = argv[++i];
    if (strcmp(argv[i], "--stop") == 0 && i + 1 < argc) stopAfter = atoi(argv[++i]);
  }
  if (types.empty()) types.push_back("text/plain");
  BApplication app(kTarnSignature);
  BMessage archive;
  if (own_window_archive(&archive) != B_OK) return 1;
  auto* window = new TarnWin(&archive);
  window->markMimes(allTypes);
  if (!allTypes)
    for (const char* type : types) window->markMime(BMimeType(type));
  if (showPaths) window->showPathsItem->SetMarked(true);
  static_cast<BTextControl*>(window->FindView("TC_SearchDir"))->SetText(argv[1]);
  static_cast<BTextControl*>(window->FindView("TC_SearchFor"))->SetText(argv[2]);
  window->Show();
  QApplication::processEvents();
  double firstMatch;
  double first = window_seconds(window, &firstMatch);
  std::vector<double> engine, shown, ratios, found, foundShown, lag, byFind, findRatios;
  for (int round = 0; round < rounds; ++round) {
    double engineFirst, windowFirst;
    double e = engine_seconds(argv[1], argv[2], window->selectedTypes, &engineFirst);
    double w = window_seconds(window, &windowFirst);
    engine.push_back(e);
    shown.push_back(w);
    ratios.push_back(w / e);
    if (engineFirst >= 0 && windowFirst >= 0) {
      found.push_back(engineFirst);
      foundShown.push_back(windowFirst);
      lag.push_back(windowFirst - engineFirst);
    }
    if (find != nullptr) {
      double f = find_seconds(find, argv[1], argv[2], types, allTypes);
      byFind.push_back(f);
      findRatios.push_back(w / f);
    }
  }
  int32 items = matches(window)->CountItems();
  printf("%-22s %10s %10s\n", "", "median s", "items");
  printf("%-22s %10.3f %10s\n", "engine (walk only)", median(engine), "");
  printf("%-22s %10.3f %10d\n", "window (Search to list)", median(shown), items);
  if (find != nullptr) printf("%-22s %10.3f\n", "tarnwickloft-find", median(byFind));
  printf("%-22s %10.3f\n", "first window search", first);
  printf("window / engine: median %.2f (%.2f-%.2f)\n", median(ratios), lowest(ratios), highest(ratios));
  if (find != nullptr)
    printf("window / tarnwickloft-find: median %.2f (%.2f-%.2f)\n", median(findRatios), lowest(findRatios), highest(findRatios));
  printf("later / first search: %.2f\n", median(shown) / first);
  if (!lag.empty())
    printf("first match: engine %.1f ms, in the window %.1f ms; window later by median %.1f ms (%.1f-%.1f)\n",
           median(found) * 1e3, median(foundShown) * 1e3, median(lag) * 1e3, lowest(lag) * 1e3, highest(lag) * 1e3);
  if (stopAfter >= 0) {
    std::vector<double> stops;
    for (int round = 0; round < rounds; ++round)
      if (double s = stop_seconds(window, stopAfter); s >= 0) stops.push_back(s);
    if (!stops.empty())
      printf("Stop %d ms into the search, to idle: median %.1f ms, longest %.1f ms (%zu rounds)\n", stopAfter,
             median(stops) * 1e3, highest(stops) * 1e3, stops.size());
  }
  window->Lock();
  window->Quit();
  return 0;
}
