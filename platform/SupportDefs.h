// Basic types, status codes and four-character codes shared by every layer.
// The platform layer reports failures as status_t values; it never throws.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>

typedef int32_t int32;
typedef uint32_t uint32;
typedef int64_t int64;
typedef uint64_t uint64;
typedef int32_t status_t;
typedef uint32_t type_code;

// Builds a four-character code such as 'srcb' from its text, first character in the
// most significant byte, so that codes read the same in a debugger as in the source.
constexpr uint32_t four_cc(const char (&code)[5]) {
  return (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) |
         (uint32_t(uint8_t(code[2])) << 8) | uint32_t(uint8_t(code[3]));
}

// Errors that come from a system call keep their errno as a negative value, so the
// cause is never lost; the program's own codes lie below the errno range.
constexpr status_t B_OK = 0;
constexpr status_t B_ERROR = -1;
constexpr status_t B_NO_MEMORY = -ENOMEM;
constexpr status_t B_BAD_VALUE = -EINVAL;
constexpr status_t B_ENTRY_NOT_FOUND = -ENOENT;
constexpr status_t B_FILE_EXISTS = -EEXIST;
constexpr status_t B_PERMISSION_DENIED = -EACCES;
constexpr status_t B_NOT_A_DIRECTORY = -ENOTDIR;
constexpr status_t B_IS_A_DIRECTORY = -EISDIR;
constexpr status_t B_NOT_SUPPORTED = -EOPNOTSUPP;
constexpr status_t B_LINK_LIMIT = -ELOOP;
constexpr status_t B_NAME_TOO_LONG = -ENAMETOOLONG;
constexpr status_t B_NO_MORE_FDS = -EMFILE;
constexpr status_t B_FILE_ERROR = -EIO;
constexpr status_t B_TIMED_OUT = -ETIMEDOUT;
constexpr status_t B_CANCELED = -ECANCELED;

constexpr status_t kOwnCodeBase = -0x10000;
constexpr status_t B_NO_INIT = kOwnCodeBase - 1;
constexpr status_t B_NAME_NOT_FOUND = kOwnCodeBase - 2;
constexpr status_t B_BAD_TYPE = kOwnCodeBase - 3;
constexpr status_t B_BAD_INDEX = kOwnCodeBase - 4;
constexpr status_t B_BAD_DATA = kOwnCodeBase - 5;
constexpr status_t B_MISMATCHED_VALUES = kOwnCodeBase - 6;
// A document whose text could not be had: locked by a password, past the bounds of its
// extraction, or with no program installed that extracts it.
constexpr status_t B_DOCUMENT_ENCRYPTED = kOwnCodeBase - 7;
constexpr status_t B_DOCUMENT_TOO_BIG = kOwnCodeBase - 8;
constexpr status_t B_NO_EXTRACTOR = kOwnCodeBase - 9;

// The negative errno of the last failed system call.
inline status_t status_from_errno() { return errno > 0 ? -errno : B_ERROR; }

// Longest file name with its terminator, and longest MIME type string with its terminator.
constexpr size_t B_FILE_NAME_LENGTH = 256;
constexpr size_t B_MIME_TYPE_LENGTH = 240;

// A short English description of a status, for messages to the user.
const char* status_text(status_t status);
