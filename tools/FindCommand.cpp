#include "FindCommand.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/MimeType.h"
#include "platform/NodeInfo.h"
#include "platform/TextTypes.h"
#include "saved/SavedSearch.h"
#include "search/BlockScanner.h"
#include "search/Engine.h"
#include "search/MatchLine.h"
#include "search/Search.h"

namespace {

constexpr int kMatched = 0;
constexpr int kNoMatch = 1;
constexpr int kError = 2;

const char kUsage[] =
    "Usage: tarnwickloft-find [--paths] [-0] [-j N] [--type TYPE]... [-d] [--no-cache] FOLDER TEXT\n"
    "       tarnwickloft-find --saved-search FILE\n"
    "       tarnwickloft-find --type-of FILE...\n"
    "Lists the files under FOLDER whose contents contain TEXT, ignoring letter case, among\n"
    "the files of the given MIME types (without --type, every installed text type).\n"
    "  --paths        print absolute paths instead of file names\n"
    "  -0, --null     end each name with a NUL byte instead of a line end\n"
    "  -j, --threads N  read files on N threads (default: one per processor this process\n"
    "                 may use; 1 searches on a single thread); the output keeps the order\n"
    "                 of a depth-first walk either way\n"
    "  --type TYPE    search files of this MIME type; may be repeated\n"
    "  -d, --documents  search PDF, OpenDocument, Office and EPUB documents too, by their\n"
    "                 text (the same as a --type for each of their types)\n"
    "  -n, --line     after each name, the line that holds TEXT (a document's paragraph,\n"
    "                 with its page for a PDF: \"name: page 3: ...\")\n"
    "  --no-cache     extract every document's text anew, neither reading nor filling the\n"
    "                 cache of extracted text\n"
    "  --saved-search run the search a saved-search file describes: its folder, text and\n"
    "                 types, with full paths when it has \"Show Paths\" set\n"
    "  --type-of      print the MIME type read for each FILE\n"
    "  --help         print this help\n"
    "Exit status: 0 when a file matched, 1 when none did, 2 on an error or when a file\n"
    "could not be read (each is named on standard error).\n";

struct Options {
  bool paths = false;
  bool null = false;  // names end with NUL, not a line end
  bool typeOf = false;
  std::string savedSearch;
  std::vector<std::string> types;
  std::vector<const char*> operands;
  std::vector<std::string> owned;  // operands read from a saved search
  bool noTypesMeansNone = false;
  bool documents = false;
  bool noCache = false;
  bool lines = false;
  int threads = 0;
};

constexpr int kMaxThreads = 1024;

bool parse_threads(const char* text, int* threads) {
  char* end = nullptr;
  errno = 0;
  long value = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 1 || value > kMaxThreads) return false;
  *threads = int(value);
  return true;
}

// Parses the options; returns -1 to go on, or the exit status to end with.
int parse_options(int argc, char** argv, Options* options, FILE* out, FILE* err) {
  enum { kPaths = 1, kType, kTypeOf, kSavedSearch, kHelp, kNoCache, kThreads = 'j', kNull = '0', kDocuments = 'd',
         kLine = 'n' };
  static const option longOptions[] = {{"paths", no_argument, nullptr, kPaths},
                                       {"null", no_argument, nullptr, kNull},
                                       {"threads", required_argument, nullptr, kThreads},
                                       {"type", required_argument, nullptr, kType},
                                       {"type-of", no_argument, nullptr, kTypeOf},
                                       {"documents", no_argument, nullptr, kDocuments},
                                       {"no-cache", no_argument, nullptr, kNoCache},
                                       {"line", no_argument, nullptr, kLine},
                                       {"saved-search", required_argument, nullptr, kSavedSearch},
                                       {"help", no_argument, nullptr, kHelp},
                                       {nullptr, 0, nullptr, 0}};
  optind = 0;  // getopt keeps state between calls; 0 also resets its internals
  opterr = 0;
  // "+" stops at the first operand, so a folder or text that begins with a dash can follow --.
  for (int option; (option = getopt_long(argc, argv, "+0dnj:", longOptions, nullptr)) != -1;) {
    switch (option) {
      case kPaths: options->paths = true; break;
      case kNull: options->null = true; break;
      case kThreads:
        if (!parse_threads(optarg, &options->threads)) {
          fprintf(err, "tarnwickloft-find: -j takes a number of threads from 1 to %d, not '%s'\n",
                  kMaxThreads, optarg);
          return kError;
        }
        break;
      case kType: options->types.emplace_back(optarg); break;
      case kTypeOf: options->typeOf = true; break;
      case kDocuments: options->documents = true; break;
      case kNoCache: options->noCache = true; break;
      case kLine: options->lines = true; break;
      case kSavedSearch: options->savedSearch = optarg; break;
      case kHelp: fputs(kUsage, out); return kMatched;
      default:
        fprintf(err, "tarnwickloft-find: unknown or incomplete option '%s'\n",
                argv[optind - 1]);
        return kError;
    }
  }
  options->operands.assign(argv + optind, argv + argc);
  return -1;
}

int print_types(const std::vector<const char*>& files, FILE* out, FILE* err) {
  if (files.empty()) {
    fputs("tarnwickloft-find: --type-of needs at least one FILE\n", err);
    return kError;
  }
  int status = kMatched;
  for (const char* file : files) {
    BNode node(file);
    BNodeInfo info(&node);
    char type[B_MIME_TYPE_LENGTH];
    if (node.InitCheck() != B_OK) {
      fprintf(err, "tarnwickloft-find: cannot open '%s'\n", file);
      status = kError;
    } else if (info.GetType(type) == B_OK) {
      fprintf(out, "%s: %s\n", file, type);
    } else {
      fprintf(out, "%s: no type\n", file);
    }
  }
  return status;
}

// A type is selected by the name files are read as: application/x-shellscript is text/x-sh.
// Without --type, every installed text type; --documents adds the document types.
std::vector<std::string> type_names(const std::vector<std::string>& types, bool noTypesMeansNone, bool documents) {
  std::vector<std::string> names;
  for (const std::string& type : types) names.push_back(text_name_of(type.c_str()));
  if (documents) names.insert(names.end(), document_type_names().begin(), document_type_names().end());
  if (!types.empty() || noTypesMeansNone) return names;
  BMessage installed;
  const char* type;
  if (BMimeType::GetInstalledTypes("text", &installed) == B_OK)
    for (int32 i = 0; installed.FindString("types", i, &type) == B_OK; ++i) names.emplace_back(type);
  return names;
}

// The output stream, and whether a write to it has failed (a full disk, a closed pipe with
// SIGPIPE ignored): the search stops at the first failure, as nothing more can be said. Output
// is buffered; a failure shows when a flush sends it. stdio locks the stream, so the flushing
// thread and the search's may both use it.
class Output {
 public:
  explicit Output(FILE* out) : out_(out) {}
  FILE* Stream() const { return out_; }
  const std::atomic<bool>* FailedFlag() const { return &failed_; }
  bool Failed() const { return failed_.load(); }
  int Error() const { return error_.load(); }

  void Flush() {
    if (fflush(out_) != 0 || ferror(out_)) Fail();
  }
  void Check() {
    if (ferror(out_)) Fail();
  }

 private:
  void Fail() {
    int expected = 0;
    error_.compare_exchange_strong(expected, errno != 0 ? errno : EIO);
    failed_.store(true);
  }

  FILE* out_;
  std::atomic<bool> failed_{false};
  std::atomic<int> error_{0};  // the first failed write's errno
};

// Prints each match as the search reports it, in walk order. The path is the one the walk
// reached the file by; it is printed as found, not looked up again, so printing costs no
// system call. A file that could not be read is named on the error stream.
class PrintingSink : public SearchSink {
 public:
  // The path the walk reached a file by: its folder's, a slash, its name.
  static std::string PathOf(const entry_ref& ref) {
    std::string folder = ref.directory_path();
    return folder + (folder == "/" ? "" : "/") + ref.name;
  }
  static void PutPath(const entry_ref& ref, FILE* to) { fputs(PathOf(ref).c_str(), to); }

  PrintingSink(bool paths, bool null, Output& out, FILE* err)
      : paths_(paths), end_(null ? '\0' : '\n'), out_(out), err_(err) {}
  // Each match is followed by the line that holds this text.
  void ShowLines(const std::string& text) { lineText_ = text; }
  void Matched(entry_ref&& ref) override {
    FILE* out = out_.Stream();
    if (paths_) PutPath(ref, out);
    else fputs(ref.name, out);
    if (lineText_) PutLine(ref, out);
    fputc(end_, out);
    out_.Check();
  }
  void Unreadable(entry_ref&& ref, status_t why) override {
    fputs("tarnwickloft-find: cannot read '", err_);
    PutPath(ref, err_);
    fprintf(err_, "': %s\n", status_text(why));
  }
  void Waiting() override { out_.Flush(); }

 private:
  static constexpr size_t kLineReadLimit = 1 << 20;

  void PutLine(const entry_ref& ref, FILE* out) {
    MatchLine line;
    if (f_match_line(PathOf(ref).c_str(), *lineText_, kLineReadLimit, &line) != MatchLineStatus::kFound) return;
    fputs(": ", out);
    if (line.page > 0) fprintf(out, "page %d: ", line.page);
    std::string shown = (line.cutBefore ? "…" : "") + line.before + line.match + line.after + (line.cutAfter ? "…" : "");
    for (char& c : shown)
      if (c == '\n' || c == '\0') c = ' ';
    fputs(shown.c_str(), out);
  }

  std::optional<std::string> lineText_;
  bool paths_;
  char end_;
  Output& out_;
  FILE* err_;
};

// Flushes the output every 20 ms while it lives, from a thread of its own, so that a pipe sees
// each match soon after it is known, even while the search is held up by a slow file, while a
// search with many matches still writes them in large blocks. Where no thread can be started,
// the output is flushed only when the search waits and at the end.
class PeriodicFlush {
 public:
  explicit PeriodicFlush(Output& out) : out_(out) {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
    }
  }
  ~PeriodicFlush() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      ending_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
    out_.Flush();
  }
  PeriodicFlush(const PeriodicFlush&) = delete;
  PeriodicFlush& operator=(const PeriodicFlush&) = delete;

 private:
  static constexpr std::chrono::milliseconds kEvery{20};
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, kEvery, [this] { return ending_; })) out_.Flush();
  }

  Output& out_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool ending_ = false;  // guarded by mutex_
  std::thread thread_;
};

// Takes folder, text, types and "Show Paths" from a saved-search file.
int load_saved_search(Options* options, FILE* err) {
  BMessage record;
  BEntry entry(options->savedSearch.c_str(), true);
  if (!options->operands.empty() || !options->types.empty()) {
    fputs("tarnwickloft-find: --saved-search takes no FOLDER, TEXT or --type\n", err);
    return kError;
  }
  if (read_saved_search(entry, &record) != B_OK) {
    fprintf(err, "tarnwickloft-find: '%s' is not a saved search\n", options->savedSearch.c_str());
    return kError;
  }
  SearchState state = read_record_fields(record);
  options->owned = {state.folder, state.text};
  options->operands = {options->owned[0].c_str(), options->owned[1].c_str()};
  options->types = state.types;
  options->paths = state.showPaths;
  options->noTypesMeansNone = true;  // a saved search with no type finds nothing, as in the window
  return -1;
}

int search(const Options& options, FILE* out, FILE* err) {
  if (options.operands.size() != 2) {
    fputs("tarnwickloft-find: expected FOLDER and TEXT (see --help)\n", err);
    return kError;
  }
  const char* folder = options.operands[0];
  BDirectory dir(folder);
  if (dir.InitCheck() != B_OK) {
    fprintf(err, "tarnwickloft-find: cannot open folder '%s': %s\n", folder,
            status_text(dir.InitCheck()));
    return kError;
  }
  BList strings;
  std::string text = options.operands[1];
  strings.AddItem(text.data());
  Output output(out);
  PrintingSink printer(options.paths, options.null, output, err);
  if (options.lines) printer.ShowLines(text);
  SearchOptions searchOptions;
  searchOptions.threads = options.threads;
  searchOptions.stop = output.FailedFlag();
  searchOptions.documentCache = !options.noCache;
  searchOptions.typesOfUnmatched = false;  // only the matches are printed
  SearchOutcome outcome;
  {
    PeriodicFlush flush(output);
    outcome = search_folder(dir, TypeSet(type_names(options.types, options.noTypesMeansNone, options.documents)),
                            SearchStrings(strings), printer, searchOptions);
  }
  if (output.Failed()) {
    fprintf(err, "tarnwickloft-find: cannot write the output: %s\n", strerror(output.Error()));
    return kError;
  }
  status_t incomplete = outcome.incomplete;
  int32 count = outcome.matches;
  if (incomplete != B_OK) {
    fprintf(err, "tarnwickloft-find: part of '%s' could not be searched: %s\n", folder,
            status_text(incomplete));
    return kError;
  }
  if (outcome.unreadable > 0) return kError;
  return count > 0 ? kMatched : kNoMatch;
}

}  // namespace

int run_find_command(int argc, char** argv, FILE* out, FILE* err) {
  Options options;
  if (int status = parse_options(argc, argv, &options, out, err); status >= 0) return status;
  if (!options.savedSearch.empty()) {
    if (int status = load_saved_search(&options, err); status >= 0) return status;
  }
  int status = options.typeOf ? print_types(options.operands, out, err) : search(options, out, err);
  if (fflush(out) != 0 || ferror(out)) {
    if (status != kError) fprintf(err, "tarnwickloft-find: cannot write the output: %s\n", strerror(errno));
    return kError;
  }
  return status;
}
