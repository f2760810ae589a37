// The time from pressing "Search" until the list is filled, next to the engine's own time on
// the same folder, in one process:
//   QT_QPA_PLATFORM=offscreen tarnwickloft-window-bench FOLDER TEXT [ROUNDS] [OPTION]...
//     --all-types   every text type selected (otherwise text/plain only, as in bench/run.sh)
//     --type TYPE   this type selected instead of text/plain; may be repeated
//     --show-paths  "Show Paths" marked: the labels are full paths
// The first search of the process is reported on its own: the later ones find the MIME
// database loaded and the content guesses cached, as a user refining the text does.
#include <QApplication>
#include <QElapsedTimer>
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
class OrderSink : public SearchSink {
 public:
  explicit OrderSink(TypeOrderKeeper& keeper) : keeper_(keeper) {}
  void Matched(entry_ref&&) override {}
  void TypeAccepted(const char* type) override { keeper_.Accepted(type); }
  void TypeUnsettled(entry_ref&& ref) override { keeper_.Unsettled(std::move(ref)); }

 private:
  TypeOrderKeeper& keeper_;
};

double engine_seconds(const char* folder, const char* text, BList& types) {
  QElapsedTimer timer;
  timer.start();
  BDirectory dir(folder);
  BList strings;
  std::string copy = text;
  strings.AddItem(copy.data());
  std::vector<std::string> labels;
  for (int32 i = 0; i < types.CountItems(); ++i) labels.push_back(static_cast<BMenuItem*>(types.ItemAt(i))->Label());
  TypeRotation rotation(labels);
  TypeOrderKeeper keeper(rotation, nullptr);
  OrderSink sink(keeper);
  SearchOptions options;
  options.reportUnsettled = rotation.MayReorder();
  search_folder(dir, TypeSet(rotation.Types()), SearchStrings(strings), sink, options);
  keeper.Finish();
  return double(timer.nsecsElapsed()) / 1e9;
}

// From posting the Search button's message to the list drawn with its items.
double window_seconds(TarnWin* window) {
  QElapsedTimer timer;
  timer.start();
  window->PostMessage(four_cc("srcb"));
  while (window->CountQueuedMessages() > 0 || window->IsDispatching() || window->IsSearching())
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  QApplication::processEvents();  // layout and paint of the filled list
  return double(timer.nsecsElapsed()) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fputs("usage: tarnwickloft-window-bench FOLDER TEXT [ROUNDS] [--all-types] [--show-paths] [--type TYPE]...\n", stderr);
    return 2;
  }
  int rounds = argc > 3 ? atoi(argv[3]) : 5;
  bool allTypes = false, showPaths = false;
  std::vector<const char*> types;
  for (int i = 4; i < argc; ++i) {
    allTypes |= strcmp(argv[i], "--all-types") == 0;
    showPaths |= strcmp(argv[i], "--show-paths") == 0;
    if (strcmp(argv[i], "--type") == 0 && i + 1 < argc) types.push_back(argv[++i]);
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
  double first = window_seconds(window);
  std::vector<double> engine, shown, ratios;
  for (int round = 0; round < rounds; ++round) {
    double e = engine_seconds(argv[1], argv[2], window->selectedTypes);
    double w = window_seconds(window);
    engine.push_back(e);
    shown.push_back(w);
    ratios.push_back(w / e);
  }
  int32 items = static_cast<BListView*>(window->FindView("LV_Matches"))->CountItems();
  printf("%-22s %10s %10s\n", "", "median s", "items");
  printf("%-22s %10.3f %10s\n", "engine (walk only)", median(engine), "");
  printf("%-22s %10.3f %10d\n", "window (Search to list)", median(shown), items);
  printf("%-22s %10.3f\n", "first window search", first);
  printf("window / engine: median %.2f (%.2f-%.2f)\n", median(ratios),
         *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()));
  printf("later / first search: %.2f\n", median(shown) / first);
  window->Lock();
  window->Quit();
  return 0;
}
