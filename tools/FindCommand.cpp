#include "FindCommand.h"

#include <getopt.h>
#include <memory>
#include <string>
#include <vector>

#include "platform/MenuItem.h"
#include "platform/MimeType.h"
#include "platform/NodeInfo.h"
#include "platform/TextTypes.h"
#include "saved/SavedSearch.h"
#include "search/Search.h"

namespace {

constexpr int kMatched = 0;
constexpr int kNoMatch = 1;
constexpr int kError = 2;

const char kUsage[] =
    "Usage: tarnwickloft-find [--paths] [--type TYPE]... FOLDER TEXT\n"
    "       tarnwickloft-find --saved-search FILE\n"
    "       tarnwickloft-find --type-of FILE...\n"
    "Lists the files under FOLDER whose contents contain TEXT, ignoring letter case, among\n"
    "the files of the given MIME types (without --type, every installed text type).\n"
    "  --paths        print absolute paths instead of file names\n"
    "  --type TYPE    search files of this MIME type; may be repeated\n"
    "  --saved-search run the search a saved-search file describes: its folder, text and\n"
    "                 types, with full paths when it has \"Show Paths\" set\n"
    "  --type-of      print the MIME type read for each FILE\n"
    "  --help         print this help\n"
    "Exit status: 0 when a file matched, 1 when none did, 2 on an error.\n";

struct Options {
  bool paths = false;
  bool typeOf = false;
  std::string savedSearch;
  std::vector<std::string> types;
  std::vector<const char*> operands;
  std::vector<std::string> owned;  // operands read from a saved search
  bool noTypesMeansNone = false;
};

// Parses the options; returns -1 to go on, or the exit status to end with.
int parse_options(int argc, char** argv, Options* options, FILE* out, FILE* err) {
  enum { kPaths = 1, kType, kTypeOf, kSavedSearch, kHelp };
  static const option longOptions[] = {{"paths", no_argument, nullptr, kPaths},
                                       {"type", required_argument, nullptr, kType},
                                       {"type-of", no_argument, nullptr, kTypeOf},
                                       {"saved-search", required_argument, nullptr, kSavedSearch},
                                       {"help", no_argument, nullptr, kHelp},
                                       {nullptr, 0, nullptr, 0}};
  optind = 0;  // getopt keeps state between calls; 0 also resets its internals
  opterr = 0;
  // "+" stops at the first operand, so a folder or text that begins with a dash can follow --.
  for (int option; (option = getopt_long(argc, argv, "+", longOptions, nullptr)) != -1;) {
    switch (option) {
      case kPaths: options->paths = true; break;
      case kType: options->types.emplace_back(optarg); break;
      case kTypeOf: options->typeOf = true; break;
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

std::vector<std::unique_ptr<BMenuItem>> make_type_items(const std::vector<std::string>& types,
                                                         bool noTypesMeansNone) {
  std::vector<std::unique_ptr<BMenuItem>> items;
  // A type is selected by the name files are read as: application/x-shellscript is text/x-sh.
  for (const std::string& type : types)
    items.push_back(std::make_unique<BMenuItem>(text_name_of(type.c_str()).c_str(), nullptr));
  if (!types.empty() || noTypesMeansNone) return items;
  BMessage installed;
  const char* type;
  if (BMimeType::GetInstalledTypes("text", &installed) == B_OK)
    for (int32 i = 0; installed.FindString("types", i, &type) == B_OK; ++i)
      items.push_back(std::make_unique<BMenuItem>(type, nullptr));
  return items;
}

// The path is the one the walk reached the file by; it is printed as found, not looked up
// again, so printing costs no system call.
void print_match(const entry_ref& ref, bool paths, FILE* out) {
  if (paths) {
    std::string folder = ref.directory_path();
    fputs(folder.c_str(), out);
    if (folder != "/") fputc('/', out);
  }
  fprintf(out, "%s\n", ref.name);
}

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
  std::string text = options.operands[1];
  auto items = make_type_items(options.types, options.noTypesMeansNone);
  BList types;
  for (auto& item : items) types.AddItem(item.get());
  BList strings;
  strings.AddItem(text.data());
  BList results;
  status_t incomplete;
  int32 count = f_dirsearch_BMI(dir, types, results, strings, &incomplete);
  for (int32 i = 0; i < results.CountItems(); ++i) {
    auto* ref = static_cast<entry_ref*>(results.ItemAt(i));
    print_match(*ref, options.paths, out);
    delete ref;
  }
  if (incomplete != B_OK) {
    fprintf(err, "tarnwickloft-find: part of '%s' could not be searched: %s\n", folder,
            status_text(incomplete));
    return kError;
  }
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
  if (fflush(out) != 0) return kError;
  return status;
}
