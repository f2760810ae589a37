// Documents whose text, not their bytes, is searched: PDF (through poppler's pdftotext, run as
// a separate process), OpenDocument, Office Open XML and EPUB (zip packages of XML, read in
// process). Every extraction is bounded in time, memory and expanded size; a document that
// cannot be read within the bounds is reported with the reason and is no match.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DocumentPhrase.h"
#include "platform/SupportDefs.h"

class TextCache;

enum class DocumentKind { kNone, kPdf, kOpenDocument, kWordprocessing, kSpreadsheet, kPresentation, kEpub };

// What a type names: kNone for every type whose bytes are searched.
DocumentKind document_kind_of(const char* type);

// The document types, in the order the types menu lists them.
const std::vector<std::string>& document_type_names();

// A document that cannot be read gives B_BAD_DATA (damaged), B_DOCUMENT_ENCRYPTED,
// B_DOCUMENT_TOO_BIG, B_TIMED_OUT or B_NO_EXTRACTOR.

struct DocumentLimits {
  std::chrono::milliseconds time{10000};         // wall time for one PDF's extractor
  uint64_t extractorMemory = uint64_t(1) << 30;  // the extractor's address space
  uint64_t expanded = uint64_t(1) << 30;         // bytes unpacked from one zip package, text out of pdftotext
  // A zip member that expands more than this many times its packed size, past its first
  // mebibyte, is a zip bomb: no document compresses that well.
  uint64_t ratio = 200;
  int xmlDepth = 256;  // nesting of XML elements
};

// The raw text of a zip-packaged document read from the descriptor (at any position; it is
// read with pread): paragraphs separated by blank lines, in reading order. B_NO_EXTRACTOR when
// the module that reads packages cannot be loaded.
status_t extract_package_text(int fd, DocumentKind kind, const DocumentLimits& limits, std::string* raw);

// The raw text of a PDF read from the descriptor by the pdftotext at `extractor`, with a form
// feed after each page. Stops, killing the extractor, when `stop` is set or a limit is reached.
status_t extract_pdf_text(const std::string& extractor, int fd, const DocumentLimits& limits,
                          const std::atomic<bool>* stop, std::string* raw);

// pdftotext for a search's documents, one document at a time per thread. A copy of it, started
// once with a fork server preloaded (ForkServer.c), waits; each document is read by a fork of
// it, as a freshly started pdftotext would read it, under the same limits, without paying for
// its start-up each time. Where no server starts (a program the preload cannot enter, or
// TARNWICKLOFT_PDF_FORKS=0), or one fails, each document starts pdftotext anew.
class PdfForks {
 public:
  explicit PdfForks(std::string program);
  ~PdfForks();  // ends the servers
  PdfForks(const PdfForks&) = delete;
  PdfForks& operator=(const PdfForks&) = delete;

  // As extract_pdf_text, from any thread.
  status_t Extract(int fd, const DocumentLimits& limits, const std::atomic<bool>* stop, std::string* raw);
  // Documents read by forks, for the tests.
  int64 Forked() const { return forked_.load(); }

 private:
  class Server;
  // An idle server, or a new one; null when servers do not work here.
  std::unique_ptr<Server> Take();

  const std::string program_;
  const std::string library_;  // the fork server to preload, "" when forks are not used
  std::atomic<int64> forked_{0};
  std::mutex mutex_;
  std::vector<std::unique_ptr<Server>> idle_;  // guarded by mutex_
  bool failed_ = false;                        // guarded by mutex_: a server would not start
};

// A helper installed with the program (PREFIX/bin/NAME has them in PREFIX/libexec/tarnwickloft),
// else the build's own copy; "" when neither can be read.
std::string helper_library(const char* file, const char* built);

// The pdftotext to run: TARNWICKLOFT_PDFTOTEXT when set, else the one on PATH; "" when there is
// none. And a token that changes when that program is replaced (its device, inode, size and
// modification time), for the text cache's keys.
std::string pdf_extractor_path();
std::string pdf_extractor_version(const std::string& extractor);

// Reads documents' text for a search, on any of its threads: from the cache when it holds the
// document, else through the document's extractor, storing what it got.
class DocumentReader {
 public:
  // cache may be null (no cache); pdfExtractor is pdf_extractor_path(), read once for the
  // search (the cache's keys name the same program); stop ends extractions at once when set.
  DocumentReader(TextCache* cache, std::string pdfExtractor, const std::atomic<bool>* stop,
                 DocumentLimits limits = {});

  // The normalised text of the open document with this status. A document whose text cannot
  // be had (damaged, encrypted, over a limit, too slow) is remembered in the cache as such.
  status_t Read(int fd, const struct stat& st, DocumentKind kind, DocumentText* text);

  // How many documents were extracted and how many came from the cache, for tests and the
  // benchmark.
  int64 Extracted() const { return extracted_.load(); }
  int64 FromCache() const { return fromCache_.load(); }
  int64 PdfsForked() const { return pdf_.Forked(); }

 private:
  TextCache* cache_;
  const std::atomic<bool>* stop_;
  PdfForks pdf_;
  const DocumentLimits limits_;
  std::atomic<int64> extracted_{0}, fromCache_{0};
};
