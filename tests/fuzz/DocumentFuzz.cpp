// Document packages read from any bytes: the zip as given, or the bytes as the main XML part of
// a well-formed package of each kind, then the text's normal form. Never a crash, and every
// limit holds.
#include <archive.h>
#include <archive_entry.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "search/BlockScanner.h"
#include "search/PackageText.h"
#include "search/DocumentPhrase.h"
#include "search/Documents.h"

namespace {

constexpr DocumentKind kKinds[] = {DocumentKind::kOpenDocument, DocumentKind::kWordprocessing,
                                   DocumentKind::kSpreadsheet, DocumentKind::kPresentation, DocumentKind::kEpub};

// A zip holding the members, made by libarchive.
std::string zip_of(const std::vector<std::pair<std::string, std::string>>& members) {
  std::vector<char> buffer(1 << 22);
  size_t used = 0;
  archive* a = archive_write_new();
  archive_write_set_format_zip(a);
  archive_write_open_memory(a, buffer.data(), buffer.size(), &used);
  for (const auto& [name, bytes] : members) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, name.c_str());
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, la_int64_t(bytes.size()));
    archive_write_header(a, entry);
    archive_write_data(a, bytes.data(), bytes.size());
    archive_entry_free(entry);
  }
  archive_write_close(a);
  archive_write_free(a);
  return std::string(buffer.data(), used);
}

std::string package_around(DocumentKind kind, const std::string& xml) {
  switch (kind) {
    case DocumentKind::kWordprocessing: return zip_of({{"word/document.xml", xml}});
    case DocumentKind::kSpreadsheet: return zip_of({{"xl/sharedStrings.xml", xml}, {"xl/worksheets/sheet1.xml", xml}});
    case DocumentKind::kPresentation: return zip_of({{"ppt/slides/slide1.xml", xml}});
    case DocumentKind::kEpub:
      return zip_of({{"META-INF/container.xml",
                      "<container><rootfiles><rootfile full-path='OPS/p.opf'/></rootfiles></container>"},
                     {"OPS/p.opf", "<package><manifest><item id='c' href='../OPS/c%2Exhtml'/></manifest>"
                                   "<spine><itemref idref='c'/></spine></package>"},
                     {"OPS/c.xhtml", xml}});
    default: return zip_of({{"content.xml", xml}});
  }
}

void read_package(DocumentKind kind, const std::string& bytes) {
  int fd = memfd_create("package", MFD_CLOEXEC);
  if (fd < 0) return;
  if (write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size())) {
    DocumentLimits limits;
    limits.expanded = 16 << 20;
    std::string raw;
    if (tarnwickloft_read_package_text(fd, kind, &limits, &raw) == B_OK && raw.size() > limits.expanded + (1 << 16))
      __builtin_trap();  // past the bound on expanded text
    DocumentText text = normalise_document_text(raw);
    std::string needle = "fox";
    BList strings;
    strings.AddItem(needle.data());
    document_contains(text, SearchStrings(strings));
  }
  close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  DocumentKind kind = kKinds[data[0] % 5];
  std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
  read_package(kind, data[1] & 1 ? bytes : package_around(kind, bytes));
  DocumentText text = normalise_document_text(bytes);
  for (size_t hyphen : text.lineEndHyphens)
    if (hyphen >= text.text.size() || text.text[hyphen] != '-') __builtin_trap();
  return 0;
}
