// Examining one file, and reporting verdicts in order.
#include "Examine.h"

#include <chrono>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "DocumentPhrase.h"
#include "Documents.h"
#include "Search.h"
#include "platform/AsciiFold.h"
#include "platform/NodeInfo.h"
#include "platform/Process.h"

namespace {

// Files read before their type is known (below) are at most this big; a larger one has its
// type settled from its head first, so that a big binary file is not read through.
constexpr off_t kContentFirstLimit = 1 << 20;

// Whether a type lookup's outcome keeps the file out: a type not selected, no type, or no type
// selected at all.
bool type_refuses(const FileRules& rules, status_t known, bool selected) {
  return known == B_OK ? !selected : known != B_TYPE_NEEDS_CONTENT || rules.types.IsEmpty();
}

// Opens a regular file for reading. With other reading threads, a descriptor that ran out is
// waited for a little: another thread is about to close its file. Past that, or alone, the
// failure stands, and is reported.
status_t open_regular(BFile& file, const BEntry& entry, struct stat* st, bool othersMayFree) {
  const int attempts = othersMayFree ? 50 : 1;
  constexpr std::chrono::milliseconds kPause{2};
  status_t status = file.SetToRegular(&entry, st);
  for (int tries = 1; out_of_descriptors(status) && tries < attempts; ++tries) {
    std::this_thread::sleep_for(kPause);
    status = file.SetToRegular(&entry, st);
  }
  return status;
}

// Whether the file starts as a PDF or a zip package does.
bool has_document_head(BFile& file) {
  char head[5];
  ssize_t got = pread(file.Descriptor(), head, sizeof head, 0);
  return got == ssize_t(sizeof head) && (memcmp(head, "%PDF-", 5) == 0 || memcmp(head, "PK\3\4", 4) == 0);
}

// Whether a file's bytes hold the text: a big one in pieces, when other threads may take some.
bool bytes_hold_text(BFile& file, const FileRules& rules, off_t size) {
  if (rules.share != nullptr && rules.pieceBytes > 0 && size >= 2 * rules.pieceBytes)
    return f_seek_in_pieces(file.Descriptor(), rules.strings, size, rules.pieceBytes, *rules.share) == 1;
  return f_seek(file, rules.strings, size) == 1;
}

}  // namespace

NameType name_type_of(const BEntry& entry) {
  NameType byName;
  byName.known = BNodeInfo::GetTypeByName(entry, byName.type);
  return byName;
}

bool name_admits(const NameType& byName, const FileRules& rules) {
  return !type_refuses(rules, byName.known, byName.known == B_OK && rules.types.Contains(byName.type));
}

// A type the attribute or the name gives is filtered before the file is opened. A file whose
// name leaves its type open is read first when small (a file without the text is no match
// whatever its type, so most never need their type), and its type is settled from its head
// only when the text is found.
void examine_file(const BEntry& entry, const NameType& byName, BFile& file, const FileRules& rules,
                  Verdict* verdict) {
  if (rules.beforeFile) rules.beforeFile();
  char type[B_MIME_TYPE_LENGTH];
  // The stored type wins over the name. A file the name already makes a candidate has it read
  // once open, from the descriptor, which costs no second lookup of the name (and on kernels
  // before getxattrat(2), no lookup of a /proc path); only a name that refuses the file needs
  // it read by name, since the stored type might accept it.
  status_t known = byName.known;
  memcpy(type, byName.type, sizeof type);
  bool selected = known == B_OK && rules.types.Contains(type);
  // Whether a pattern of the database matches the name, for the hint below.
  bool namePatterns = known == B_TYPE_NEEDS_CONTENT && strcmp(type, BNodeInfo::kNoPatternType) != 0;
  bool storedTypeUnread = true;
  if (type_refuses(rules, known, selected)) {
    storedTypeUnread = false;
    if (BNodeInfo::GetStoredType(entry, type) == B_OK) {
      known = B_OK;
      selected = rules.types.Contains(type);
    }
  }
  if (type_refuses(rules, known, selected)) return;  // a type not selected, no type, or no type selected
  struct stat st;
  // Never a link's target, and never what is no longer a regular file.
  if (status_t status = open_regular(file, entry, &st, rules.otherReaders); status != B_OK) {
    if (out_of_descriptors(status) && entry.GetRef(&verdict->ref) == B_OK) verdict->unreadable = status;
    return;
  }
  // Where only matches' types are wanted and no document is, the stored type of a file the
  // name lets through is read after its text is found, and most files are no match.
  bool storedTypeAfter = storedTypeUnread && !rules.typesOfUnmatched && rules.documents == nullptr &&
                         (known == B_OK || st.st_size <= kContentFirstLimit);
  if (storedTypeUnread && !storedTypeAfter && BNodeInfo::GetStoredType(file, type) == B_OK) {
    known = B_OK;
    if (!rules.types.Contains(type)) {
      file.Unset();
      return;
    }
  }
  // The file's first bytes, when the scan kept them.
  char head[ContentTypeHint::kHeadSize];
  size_t headSize = 0;
  // Whether the head could give one of the types: most heads cannot, and saying so costs a
  // few comparisons where a guess tries every type's rules.
  auto could_be_accepted = [&] {
    if (rules.hint.RefusesNothing()) return true;
    ssize_t got = ssize_t(headSize);
    if (got == 0 && rules.hint.NeedsHead()) got = pread(file.Descriptor(), head, sizeof head, 0);
    return got < 0 || rules.hint.CouldBeOneOf(namePatterns, reinterpret_cast<const uint8_t*>(head), size_t(got));
  };
  // The type from the file's head, through the filter.
  auto head_accepted = [&] {
    if (!could_be_accepted()) return false;
    bool accepted = BNodeInfo::GetTypeFromContent(file, st, type) == B_OK && rules.types.Contains(type);
    if (accepted) verdict->accepted = type;
    return accepted;
  };
  // Whether the file holds the text: its bytes, or for a document its text.
  auto holds_text = [&](const char* accepted) {
    DocumentKind kind = rules.documents != nullptr ? document_kind_of(accepted) : DocumentKind::kNone;
    if (kind == DocumentKind::kNone) return bytes_hold_text(file, rules, st.st_size);
    DocumentText text;
    if (status_t status = rules.documents->Read(file.Descriptor(), st, kind, &text); status != B_OK) {
      if (status != B_CANCELED) verdict->unreadable = status;  // a stopped search reports nothing more
      return false;
    }
    return document_contains(text, rules.strings);
  };
  // Once the text is found: the stored type, else the name's, else the head's.
  auto typed_after_text = [&] {
    if (BNodeInfo::GetStoredType(file, type) == B_OK || known == B_OK) {
      if (!rules.types.Contains(type)) return false;
      verdict->accepted = type;
      return true;
    }
    return head_accepted();
  };
  if (storedTypeAfter) {
    verdict->matched = bytes_hold_text(file, rules, st.st_size) && typed_after_text();
  } else if (known == B_OK) {
    verdict->accepted = type;
    verdict->matched = holds_text(type);
  } else if (rules.documents != nullptr && has_document_head(file)) {
    // A document's bytes are compressed: its type comes first, then its text.
    verdict->matched = head_accepted() && holds_text(type);
  } else if (st.st_size <= kContentFirstLimit) {
    verdict->matched = f_seek(file, rules.strings, st.st_size, head, sizeof head, &headSize) == 1;
    if (verdict->matched) verdict->matched = head_accepted();
    else verdict->unsettled = rules.reportUnsettled && could_be_accepted();
  } else {
    verdict->matched = head_accepted() && holds_text(type);
  }
  // Closing now keeps the walk's descriptors to its folders.
  file.Unset();
  bool reported = verdict->matched || verdict->unsettled || verdict->unreadable != B_OK;
  if (reported && entry.GetRef(&verdict->ref) != B_OK) {
    verdict->matched = verdict->unsettled = false;
    verdict->unreadable = B_OK;
  }
}

void Reporter::Report(Verdict& verdict) {
  if (++files_ % SearchSink::kProgressEvery == 0) sink_.Progress(files_);
  if (!verdict.accepted.empty()) {
    if (unsettledSince_ || ascii::casecmp(verdict.accepted.c_str(), lastAccepted_.c_str()) != 0) {
      sink_.TypeAccepted(verdict.accepted.c_str());
      unsettledSince_ = false;
    }
    lastAccepted_ = std::move(verdict.accepted);
  }
  if (verdict.unreadable != B_OK) {
    sink_.Unreadable(std::move(verdict.ref), verdict.unreadable);
    ++unreadable_;
  } else if (verdict.unsettled) {
    sink_.TypeUnsettled(std::move(verdict.ref));
    unsettledSince_ = true;
  } else if (verdict.matched) {
    sink_.Matched(std::move(verdict.ref));
    ++matches_;
  }
}
