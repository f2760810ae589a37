// One big file scanned on several threads at once, with the answer of a scan from its start.
//
// The file is cut into pieces at block starts. Each piece is scanned on its own, after the text
// that the blocks before it carry into it: the last bytes of the stream of block texts before
// the piece, enough to hold any match that runs across its start. Fed first, that text leaves
// the scanner as a scan from the file's start would have left it there.
#pragma once

#include <functional>
#include <sys/types.h>

#include "platform/SupportDefs.h"

class SearchStrings;

// Runs scan(0), ..., scan(count - 1), each once, some perhaps on other threads, in any order,
// and returns when every one has returned.
using ShareScans = std::function<void(size_t count, const std::function<void(size_t)>& scan)>;

// f_seek's answer for the `size` bytes of the file open on fd, read with pread in pieces of
// pieceBytes (a whole number of blocks) that `share` hands out. When some piece's carried text
// lies too far back (a file of NUL bytes), the file is scanned from its start on this thread.
int32 f_seek_in_pieces(int fd, const SearchStrings& strings, off_t size, off_t pieceBytes,
                       const ShareScans& share);
