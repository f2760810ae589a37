// The text of zip-packaged documents: OpenDocument, Office Open XML and EPUB. libarchive reads
// the zip (no other format is enabled), expat streams each XML part; both are bounded: the
// bytes a package expands to, the expansion against the package's size, and the nesting of
// elements. Documents never declare entities, so a part that does is refused before any entity
// is expanded.
#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <cstring>
#include <expat.h>
#include <map>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "PackageText.h"

namespace {

constexpr uint64_t kRatioAllowance = 1 << 20;  // bytes any package may expand to, whatever its size

// The members of a package this process reads, by name.
using Members = std::map<std::string, std::string>;

// The trailing number of a name such as "ppt/slides/slide12.xml", for reading order.
long number_in(const std::string& name) {
  size_t end = name.find_last_of("0123456789");
  if (end == std::string::npos) return 0;
  size_t start = name.find_last_not_of("0123456789", end);
  return std::strtol(name.c_str() + start + 1, nullptr, 10);
}


// Whether a member's text is read for this kind of document.
bool wanted(DocumentKind kind, const std::string& name) {
  switch (kind) {
    case DocumentKind::kOpenDocument: return name == "content.xml" || name == "styles.xml";
    case DocumentKind::kWordprocessing:
      return name.starts_with("word/") && name.ends_with(".xml") &&
             (name == "word/document.xml" || name.starts_with("word/header") || name.starts_with("word/footer") ||
              name == "word/footnotes.xml" || name == "word/endnotes.xml");
    case DocumentKind::kSpreadsheet:
      return name == "xl/sharedStrings.xml" || (name.starts_with("xl/worksheets/sheet") && name.ends_with(".xml"));
    case DocumentKind::kPresentation:
      return name.ends_with(".xml") && (name.starts_with("ppt/slides/slide") || name.starts_with("ppt/notesSlides/notesSlide"));
    case DocumentKind::kEpub:
      return name.ends_with(".xml") || name.ends_with(".opf") || name.ends_with(".xhtml") ||
             name.ends_with(".html") || name.ends_with(".htm");
    default: return false;
  }
}

// libarchive reads the package through pread, so the descriptor's position is left alone.
struct Source {
  int fd;
  off_t size;
  off_t at = 0;
  char buffer[64 * 1024];
};

la_ssize_t read_source(archive*, void* data, const void** block) {
  auto* source = static_cast<Source*>(data);
  ssize_t got = pread(source->fd, source->buffer, sizeof source->buffer, source->at);
  if (got < 0) return ARCHIVE_FATAL;
  source->at += got;
  *block = source->buffer;
  return got;
}

la_int64_t seek_source(archive*, void* data, la_int64_t offset, int whence) {
  auto* source = static_cast<Source*>(data);
  off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? source->at : source->size;
  if (base + offset < 0) return ARCHIVE_FATAL;
  source->at = base + offset;
  return source->at;
}

la_int64_t skip_source(archive* a, void* data, la_int64_t request) {
  auto* source = static_cast<Source*>(data);
  la_int64_t room = std::max<la_int64_t>(0, source->size - source->at);
  la_int64_t step = std::min(request, room);
  seek_source(a, data, step, SEEK_CUR);
  return step;
}

// Reads the wanted members into memory, within the limits.
status_t read_members(int fd, DocumentKind kind, const DocumentLimits& limits, Members* members) {
  struct stat st;
  if (fstat(fd, &st) != 0) return B_FILE_ERROR;
  Source source{fd, st.st_size};
  uint64_t budget = std::min<uint64_t>(limits.expanded, kRatioAllowance + limits.ratio * uint64_t(st.st_size));
  archive* a = archive_read_new();
  archive_read_support_format_zip_seekable(a);
  archive_read_set_read_callback(a, read_source);
  archive_read_set_seek_callback(a, seek_source);
  archive_read_set_skip_callback(a, skip_source);
  archive_read_set_callback_data(a, &source);
  status_t status = archive_read_open1(a) == ARCHIVE_OK ? B_OK : B_BAD_DATA;
  uint64_t expanded = 0;
  archive_entry* entry;
  while (status == B_OK) {
    int next = archive_read_next_header(a, &entry);
    if (next == ARCHIVE_EOF) break;
    if (next < ARCHIVE_WARN) {
      status = B_BAD_DATA;
      break;
    }
    const char* name = archive_entry_pathname(entry);
    if (name == nullptr || !wanted(kind, name)) continue;
    if (archive_entry_is_encrypted(entry)) {
      status = B_DOCUMENT_ENCRYPTED;
      break;
    }
    std::string& text = (*members)[name];
    char block[64 * 1024];
    for (la_ssize_t got; (got = archive_read_data(a, block, sizeof block)) != 0;) {
      if (got < 0) {
        status = B_BAD_DATA;
        break;
      }
      expanded += uint64_t(got);
      if (expanded > budget) {
        status = B_DOCUMENT_TOO_BIG;
        break;
      }
      text.append(block, size_t(got));
    }
  }
  archive_read_free(a);
  return status;
}

// How one kind of XML part gives its text: which elements hold text (and everything inside
// them), which end a paragraph, which stand for a line end or a space, which are left out.
struct Profile {
  std::vector<std::string_view> holders, paragraphs, lineEnds, spaces, skipped;
};

const Profile& profile_for(DocumentKind kind, bool html) {
  static const Profile openDocument{{"p", "h"}, {"p", "h", "table-cell", "page"}, {"line-break"}, {"s", "tab"},
                                    {"tracked-changes", "note-citation"}};
  static const Profile wordprocessing{{"t"}, {"p", "tc"}, {"br", "cr"}, {"tab"}, {"delText", "instrText"}};
  static const Profile spreadsheet{{"t", "v"}, {"si", "c"}, {}, {}, {"rPh"}};
  static const Profile presentation{{"t"}, {"p"}, {"br"}, {}, {}};
  static const Profile xhtml{{"body"},
                             {"p", "div", "h1", "h2", "h3", "h4", "h5", "h6", "li", "td", "th", "tr", "blockquote", "pre",
                              "section", "article", "aside", "dt", "dd", "figcaption", "table", "ul", "ol", "hr", "nav"},
                             {"br"},
                             {},
                             {"script", "style", "head"}};
  if (html) return xhtml;
  switch (kind) {
    case DocumentKind::kWordprocessing: return wordprocessing;
    case DocumentKind::kSpreadsheet: return spreadsheet;
    case DocumentKind::kPresentation: return presentation;
    default: return openDocument;
  }
}

bool listed(const std::vector<std::string_view>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

std::string_view local_name(const XML_Char* name) {
  const char* colon = strrchr(name, ':');
  return colon != nullptr ? colon + 1 : name;
}

const char* attribute(const XML_Char** attributes, std::string_view name) {
  for (int i = 0; attributes[i] != nullptr; i += 2)
    if (local_name(attributes[i]) == name) return attributes[i + 1];
  return nullptr;
}

// One XML part to text, streamed through expat.
class XmlText {
 public:
  XmlText(const Profile& profile, const DocumentLimits& limits, uint64_t* budget, std::string* out)
      : profile_(profile), limits_(limits), budget_(budget), out_(out) {}

  status_t Parse(const std::string& xml) {
    XML_Parser parser = XML_ParserCreate("UTF-8");
    if (parser == nullptr) return B_NO_MEMORY;
    parser_ = parser;
    XML_SetUserData(parser, this);
    XML_SetElementHandler(parser, &XmlText::Start, &XmlText::End);
    XML_SetCharacterDataHandler(parser, &XmlText::Text);
    XML_SetEntityDeclHandler(parser, &XmlText::EntityDeclared);
    XML_SetSkippedEntityHandler(parser, &XmlText::Skipped);
    XML_Status done = XML_Parse(parser, xml.data(), int(std::min<size_t>(xml.size(), INT32_MAX)), XML_TRUE);
    if (done != XML_STATUS_OK && status_ == B_OK) status_ = B_BAD_DATA;
    if (xml.size() > INT32_MAX && status_ == B_OK) status_ = B_DOCUMENT_TOO_BIG;
    XML_ParserFree(parser);
    return status_;
  }

 private:
  static void Start(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto* self = static_cast<XmlText*>(data);
    if (++self->depth_ > self->limits_.xmlDepth) return self->Fail(B_BAD_DATA);
    std::string_view local = local_name(name);
    const Profile& p = self->profile_;
    if (listed(p.skipped, local) && self->skipDepth_ == 0) self->skipDepth_ = self->depth_;
    if (local == "c") {  // a spreadsheet cell: a shared string's number is no text of its own
      const char* type = attribute(attributes, "t");
      self->sharedStringCell_ = type != nullptr && strcmp(type, "s") == 0;
    }
    bool holds = listed(p.holders, local) && !(local == "v" && self->sharedStringCell_);
    if (holds && self->holdDepth_ == 0) self->holdDepth_ = self->depth_;
    // Breaks count outside the text holders too: a paragraph's runs sit inside it.
    if (self->Breaks()) {
      if (listed(p.lineEnds, local)) self->Put("\n");
      else if (listed(p.spaces, local)) self->Put(" ");
      else if (listed(p.paragraphs, local)) self->Put("\n\n");
    }
  }

  static void End(void* data, const XML_Char* name) {
    auto* self = static_cast<XmlText*>(data);
    std::string_view local = local_name(name);
    if (self->Breaks() && listed(self->profile_.paragraphs, local)) self->Put("\n\n");
    if (self->depth_ == self->holdDepth_) self->holdDepth_ = 0;
    if (self->depth_ == self->skipDepth_) self->skipDepth_ = 0;
    --self->depth_;
  }

  static void Text(void* data, const XML_Char* text, int length) {
    auto* self = static_cast<XmlText*>(data);
    if (!self->Visible()) return;
    // Line ends in XML are no layout: only the elements above break lines.
    std::string piece(text, size_t(length));
    std::replace_if(piece.begin(), piece.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
    self->Put(piece);
  }

  static void EntityDeclared(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                             const XML_Char*, const XML_Char*, const XML_Char*) {
    static_cast<XmlText*>(data)->Fail(B_BAD_DATA);
  }

  // An entity of an external DTD that is not read (XHTML's &nbsp; and its like): a space.
  static void Skipped(void* data, const XML_Char*, int) {
    auto* self = static_cast<XmlText*>(data);
    if (self->Visible()) self->Put(" ");
  }

  bool Visible() const { return holdDepth_ > 0 && Breaks(); }
  bool Breaks() const { return skipDepth_ == 0 && status_ == B_OK; }

  void Put(std::string_view text) {
    if (text.size() > *budget_) return Fail(B_DOCUMENT_TOO_BIG);
    *budget_ -= text.size();
    out_->append(text);
  }

  void Fail(status_t status) {
    if (status_ == B_OK) status_ = status;
    XML_StopParser(parser_, XML_FALSE);
  }

  const Profile& profile_;
  const DocumentLimits& limits_;
  uint64_t* budget_;
  std::string* out_;
  XML_Parser parser_ = nullptr;
  status_t status_ = B_OK;
  int depth_ = 0;
  int holdDepth_ = 0;  // the depth of the element that holds text, 0 outside one
  int skipDepth_ = 0;  // the depth of the element left out, 0 outside one
  bool sharedStringCell_ = false;
};

// A small XML part's elements and attributes, for the EPUB container and package files.
struct Element {
  std::string name;
  std::map<std::string, std::string> attributes;
};

status_t read_elements(const std::string& xml, int depthLimit, std::vector<Element>* elements) {
  struct State {
    std::vector<Element>* elements;
    int depth = 0, limit;
    bool failed = false;
    XML_Parser parser;
  } state{elements, 0, depthLimit, false, XML_ParserCreate("UTF-8")};
  if (state.parser == nullptr) return B_NO_MEMORY;
  XML_SetUserData(state.parser, &state);
  XML_SetElementHandler(
      state.parser,
      [](void* data, const XML_Char* name, const XML_Char** attributes) {
        auto* s = static_cast<State*>(data);
        if (++s->depth > s->limit) {
          s->failed = true;
          XML_StopParser(s->parser, XML_FALSE);
          return;
        }
        Element element{std::string(local_name(name)), {}};
        for (int i = 0; attributes[i] != nullptr; i += 2)
          element.attributes[std::string(local_name(attributes[i]))] = attributes[i + 1];
        s->elements->push_back(std::move(element));
      },
      [](void* data, const XML_Char*) { --static_cast<State*>(data)->depth; });
  XML_SetEntityDeclHandler(state.parser, [](void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                            const XML_Char*, const XML_Char*, const XML_Char*) {
    auto* s = static_cast<State*>(data);
    s->failed = true;
    XML_StopParser(s->parser, XML_FALSE);
  });
  bool parsed = XML_Parse(state.parser, xml.data(), int(std::min<size_t>(xml.size(), INT32_MAX)), XML_TRUE) ==
                XML_STATUS_OK;
  XML_ParserFree(state.parser);
  return parsed && !state.failed ? B_OK : B_BAD_DATA;
}

// "%20" and its like in a package's links.
std::string percent_decoded(const std::string& href) {
  std::string out;
  for (size_t i = 0; i < href.size(); ++i) {
    if (href[i] == '%' && i + 2 < href.size() && isxdigit((unsigned char)href[i + 1]) &&
        isxdigit((unsigned char)href[i + 2])) {
      out += char(std::stoi(href.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += href[i];
    }
  }
  return out;
}

// A link relative to the folder of `from`, resolved to a member name ("../" climbs).
std::string resolve(const std::string& from, const std::string& href) {
  std::string path = from.substr(0, from.rfind('/') + 1) + percent_decoded(href.substr(0, href.find('#')));
  std::vector<std::string> parts;
  for (size_t start = 0; start <= path.size();) {
    size_t slash = std::min(path.find('/', start), path.size());
    std::string part = path.substr(start, slash - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = slash + 1;
  }
  std::string joined;
  for (const std::string& part : parts) joined += (joined.empty() ? "" : "/") + part;
  return joined;
}

// An e-book's content documents in reading order: the container names the package file,
// whose spine lists its manifest's items in order.
status_t epub_spine(const Members& members, int depthLimit, std::vector<std::string>* spine) {
  auto container = members.find("META-INF/container.xml");
  if (container == members.end()) return B_BAD_DATA;
  std::vector<Element> elements;
  if (status_t status = read_elements(container->second, depthLimit, &elements); status != B_OK) return status;
  std::string packagePath;
  for (const Element& e : elements)
    if (e.name == "rootfile" && e.attributes.count("full-path")) {
      packagePath = e.attributes.at("full-path");
      break;
    }
  auto package = members.find(packagePath);
  if (package == members.end()) return B_BAD_DATA;
  elements.clear();
  if (status_t status = read_elements(package->second, depthLimit, &elements); status != B_OK) return status;
  std::map<std::string, std::string> manifest;
  for (const Element& e : elements)
    if (e.name == "item" && e.attributes.count("id") && e.attributes.count("href"))
      manifest[e.attributes.at("id")] = resolve(packagePath, e.attributes.at("href"));
  for (const Element& e : elements)
    if (e.name == "itemref" && e.attributes.count("idref") && manifest.count(e.attributes.at("idref")))
      spine->push_back(manifest.at(e.attributes.at("idref")));
  return B_OK;
}

// The members to read, in reading order.
status_t reading_order(DocumentKind kind, const Members& members, int depthLimit, std::vector<std::string>* order) {
  if (kind == DocumentKind::kEpub) return epub_spine(members, depthLimit, order);
  for (const auto& member : members) order->push_back(member.first);
  auto rank = [kind](const std::string& name) {
    // The body before headers and footers, shared strings before sheets, slides before notes.
    bool first = name == "content.xml" || name == "word/document.xml" || name == "xl/sharedStrings.xml" ||
                 (kind == DocumentKind::kPresentation && name.starts_with("ppt/slides/"));
    return std::pair(first ? 0 : 1, number_in(name));
  };
  std::stable_sort(order->begin(), order->end(),
                   [&](const std::string& a, const std::string& b) { return rank(a) < rank(b); });
  return B_OK;
}

}  // namespace

status_t tarnwickloft_read_package_text(int fd, DocumentKind kind, const DocumentLimits* bounds, std::string* raw) {
  const DocumentLimits& limits = *bounds;
  Members members;
  if (status_t status = read_members(fd, kind, limits, &members); status != B_OK) return status;
  std::vector<std::string> order;
  if (status_t status = reading_order(kind, members, limits.xmlDepth, &order); status != B_OK) return status;
  if (order.empty()) return B_BAD_DATA;  // a zip, but not a document of this kind
  uint64_t budget = limits.expanded;
  for (const std::string& name : order) {
    auto member = members.find(name);
    if (member == members.end()) continue;  // a spine item the package lacks
    XmlText part(profile_for(kind, kind == DocumentKind::kEpub), limits, &budget, raw);
    if (status_t status = part.Parse(member->second); status != B_OK) return status;
    raw->append("\n\n");
  }
  return B_OK;
}
