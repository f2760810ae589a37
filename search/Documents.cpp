#include "Documents.h"

#include <sys/stat.h>

#include "TextCache.h"
#include "platform/AsciiFold.h"
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

}  // namespace

DocumentKind document_kind_of(const char* type) {
  if (type == nullptr || ascii::folded(std::string(type).substr(0, 12)) != "application/") return DocumentKind::kNone;
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

DocumentReader::DocumentReader(TextCache* cache, const std::atomic<bool>* stop, DocumentLimits limits)
    : cache_(cache), stop_(stop), limits_(limits) {}

status_t DocumentReader::Read(int fd, const struct stat& st, DocumentKind kind, DocumentText* text) {
  if (cache_ != nullptr && cache_->Load(st, kind, text)) {
    fromCache_.fetch_add(1, std::memory_order_relaxed);
    return B_OK;
  }
  std::string raw;
  status_t status = kind == DocumentKind::kPdf ? extract_pdf_text(fd, limits_, stop_, &raw)
                                               : extract_package_text(fd, kind, limits_, &raw);
  if (status != B_OK) return status;
  extracted_.fetch_add(1, std::memory_order_relaxed);
  *text = normalise_document_text(raw);
  if (cache_ != nullptr) cache_->Store(st, kind, *text);
  return B_OK;
}
