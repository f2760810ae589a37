#include "Documents.h"

#include <dlfcn.h>
#include <mutex>
#include <string_view>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "PackageText.h"
#include "TextCache.h"
#include "platform/AsciiFold.h"
#include "platform/Process.h"
#include "platform/TextTypes.h"

namespace {

struct KindName {
  const char* type;
  DocumentKind kind;
};

// Their names in the shared-mime-info database.
constexpr KindName kDocumentTypes[] = {
    {"application/pdf", DocumentKind::kPdf},
    {"application/vnd.oasis.opendocument.text", DocumentKind::kOpenDocument},
    {"application/vnd.oasis.opendocument.spreadsheet", DocumentKind::kOpenDocument},
    {"application/vnd.oasis.opendocument.presentation", DocumentKind::kOpenDocument},
    {"application/vnd.openxmlformats-officedocument.wordprocessingml.document", DocumentKind::kWordprocessing},
    {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", DocumentKind::kSpreadsheet},
    {"application/vnd.openxmlformats-officedocument.presentationml.presentation", DocumentKind::kPresentation},
    {"application/epub+zip", DocumentKind::kEpub},
};

// The package reader's entry, loaded once, for the life of the process; null when the module
// cannot be found or loaded.
decltype(&tarnwickloft_read_package_text) package_reader() {
  static decltype(&tarnwickloft_read_package_text) entry = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    std::string module = helper_library("tarnwickloft-packages.so", TARNWICKLOFT_PACKAGES_BUILT);
    void* loaded = module.empty() ? nullptr : dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (loaded != nullptr)
      entry = reinterpret_cast<decltype(&tarnwickloft_read_package_text)>(dlsym(loaded, kPackageReaderEntry));
  });
  return entry;
}

}  // namespace

std::string helper_library(const char* file, const char* built) {
  std::vector<std::string> candidates;
  if (std::string prefix = installed_prefix(running_executable()); !prefix.empty())
    candidates.push_back(prefix + "/libexec/tarnwickloft/" + file);
  candidates.push_back(built);
  for (const std::string& library : candidates)
    if (access(library.c_str(), R_OK) == 0) return library;
  return "";
}

status_t extract_package_text(int fd, DocumentKind kind, const DocumentLimits& limits, std::string* raw) {
  auto read = package_reader();
  return read == nullptr ? B_NO_EXTRACTOR : read(fd, kind, &limits, raw);
}

DocumentKind document_kind_of(const char* type) {
  constexpr std::string_view kSupertype = "application/";
  if (type == nullptr || strncasecmp(type, kSupertype.data(), kSupertype.size()) != 0) return DocumentKind::kNone;
  for (const KindName& known : kDocumentTypes)
    if (ascii::casecmp(type, known.type) == 0) return known.kind;
  for (const KindName& known : kDocumentTypes)  // an alias, such as application/x-pdf
    if (same_mime_type(type, known.type)) return known.kind;
  return DocumentKind::kNone;
}

const std::vector<std::string>& document_type_names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> all;
    for (const KindName& known : kDocumentTypes) all.emplace_back(known.type);
    return all;
  }();
  return names;
}

DocumentReader::DocumentReader(TextCache* cache, std::string pdfExtractor, const std::atomic<bool>* stop,
                               DocumentLimits limits)
    : cache_(cache), stop_(stop), pdf_(std::move(pdfExtractor)), limits_(limits) {}

status_t DocumentReader::Read(int fd, const struct stat& st, DocumentKind kind, DocumentText* text) {
  status_t failure = B_OK;
  if (cache_ != nullptr && cache_->Load(st, kind, text, &failure)) {
    fromCache_.fetch_add(1, std::memory_order_relaxed);
    return failure;
  }
  std::string raw;
  status_t status = kind == DocumentKind::kPdf ? pdf_.Extract(fd, limits_, stop_, &raw)
                                               : extract_package_text(fd, kind, limits_, &raw);
  // A stopped search, a missing extractor or a process limit says nothing of the document.
  if (status == B_CANCELED || status == B_NO_EXTRACTOR || status == B_NO_MORE_FDS || status == B_NO_MEMORY)
    return status;
  extracted_.fetch_add(1, std::memory_order_relaxed);
  *text = status == B_OK ? normalise_document_text(raw) : DocumentText{};
  if (cache_ != nullptr) cache_->Store(st, kind, *text, status);
  return status;
}
