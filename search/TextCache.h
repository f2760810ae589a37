// The text extracted from documents, kept between searches so that a second search of the same
// documents reads no document. An entry is keyed by what changes whenever the document or its
// extractor does: device, inode, size, modification and change times to the nanosecond, the
// kind of document and the extractor's version. Entries are compressed, written whole through
// the replacing writer (two processes filling the cache at once never see a torn entry), and
// checked when read (a damaged one is ignored, and replaced by the next search). The folder is
// bounded: the least recently used entries go first, by their access times (which reads set
// at most daily under the default relatime mounts) or, where reads set none, their writes.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <sys/stat.h>

#include "DocumentPhrase.h"
#include "Documents.h"

class TextCache {
 public:
  // $XDG_CACHE_HOME/tarnwickloft (~/.cache/tarnwickloft); "" when there is no home.
  static std::string DefaultFolder();
  // The bound a user chose with TARNWICKLOFT_CACHE_MB, or 512 MiB.
  static uint64_t DefaultLimit();

  // pdfExtractor: pdf_extractor_version() when the search began.
  TextCache(std::string folder, uint64_t limitBytes, std::string pdfExtractor);
  // Trims the folder to its bound when this cache stored anything.
  ~TextCache();
  TextCache(const TextCache&) = delete;
  TextCache& operator=(const TextCache&) = delete;

  // The text of the document with this status, when an entry for it is whole; or why its text
  // could not be had, so that a document that makes its extractor time out costs that time
  // once, not at every search.
  bool Load(const struct stat& st, DocumentKind kind, DocumentText* text, status_t* failure);
  void Store(const struct stat& st, DocumentKind kind, const DocumentText& text, status_t failure = B_OK);
  // Removes the least recently used entries until the folder is within its bound.
  void Trim();

 private:
  std::string Key(const struct stat& st, DocumentKind kind) const;
  static std::string NameFor(const std::string& key);
  int Folder();

  const std::string folder_;
  const uint64_t limit_;
  const std::string pdfExtractor_;
  std::once_flag madeFolder_, openedFolder_;
  int folderFd_ = -1;  // set once, under openedFolder_
  bool folderReady_ = false;  // set once, under madeFolder_
  std::atomic<bool> stored_{false};
};
