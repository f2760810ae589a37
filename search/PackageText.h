// The reader of zip-packaged documents (PackageText.cpp). It is built as a module of its own,
// loaded the first time a search reads such a document: libarchive and expat, with the seven
// libraries libarchive brings, would otherwise cost every start of every program a millisecond.
#pragma once

#include <string>

#include "Documents.h"

// The module's one entry, by this name: extract_package_text as Documents.h describes it.
constexpr char kPackageReaderEntry[] = "tarnwickloft_read_package_text";
extern "C" status_t tarnwickloft_read_package_text(int fd, DocumentKind kind, const DocumentLimits* limits,
                                                  std::string* raw);
