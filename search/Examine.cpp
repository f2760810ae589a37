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
bool bytes_hold_text(BFile& file, const FileRules& rules, off_t size, ScanHabit& habit) {
  if (rules.share != nullptr && rules.pieceBytes > 0 && size >= 2 * rules.pieceBytes)
    return f_seek_in_pieces(file.Descriptor(), rules.strings, size, rules.pieceBytes, *rules.share) == 1;
  return f_seek(file, rules.strings, size, &habit) == 1;
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

namespace {

// One file's examination: what is known of its type, and the open file, as the steps learn it.
// A type the attribute or the name gives is filtered before the file is opened. A file whose
// name leaves its type open is read first when small (a file without the text is no match
// whatever its type, so most never need their type), and its type is settled from its head
// only when the text is found.
class Examination {
 public:
  Examination(const BEntry& entry, const NameType& byName, FileReading& reading, const FileRules& rules,
              Verdict* verdict)
      : entry_(entry), file_(reading.file), habit_(reading.habit), rules_(rules), verdict_(*verdict),
        known_(byName.known) {
    memcpy(type_, byName.type, sizeof type_);
    selected_ = known_ == B_OK && rules.types.Contains(type_);
    // Whether a pattern of the database matches the name, for the hint below.
    namePatterns_ = known_ == B_TYPE_NEEDS_CONTENT && strcmp(type_, BNodeInfo::kNoPatternType) != 0;
  }

  void Run() {
    if (rules_.beforeFile) rules_.beforeFile();
    if (!StoredTypeLetsThrough() || !Open()) return;
    verdict_.matched = Matches();
    // Closing now keeps the walk's descriptors to its folders.
    file_.Unset();
    bool reported = verdict_.matched || verdict_.unsettled || verdict_.unreadable != B_OK;
    if (reported && entry_.GetRef(&verdict_.ref) != B_OK) {
      verdict_.matched = verdict_.unsettled = false;
      verdict_.unreadable = B_OK;
    }
  }

 private:
  // The stored type wins over the name. A file the name already makes a candidate has it read
  // once open, from the descriptor, which costs no second lookup of the name (and on kernels
  // before getxattrat(2), no lookup of a /proc path); only a name that refuses the file needs
  // it read by name, since the stored type might accept it.
  bool StoredTypeLetsThrough() {
    if (type_refuses(rules_, known_, selected_)) {
      storedTypeUnread_ = false;
      if (BNodeInfo::GetStoredType(entry_, type_) == B_OK) {
        known_ = B_OK;
        selected_ = rules_.types.Contains(type_);
      }
    }
    return !type_refuses(rules_, known_, selected_);  // a type not selected, no type, or none selected
  }

  // Never a link's target, and never what is no longer a regular file. Where only matches'
  // types are wanted and no document is, the stored type of a file the name lets through is
  // read after its text is found, and most files are no match.
  bool Open() {
    if (status_t status = open_regular(file_, entry_, &st_, rules_.otherReaders); status != B_OK) {
      if (out_of_descriptors(status) && entry_.GetRef(&verdict_.ref) == B_OK) verdict_.unreadable = status;
      return false;
    }
    storedTypeAfter_ = storedTypeUnread_ && !rules_.typesOfUnmatched && rules_.documents == nullptr &&
                       (known_ == B_OK || st_.st_size <= kContentFirstLimit);
    if (storedTypeUnread_ && !storedTypeAfter_ && BNodeInfo::GetStoredType(file_, type_) == B_OK) {
      known_ = B_OK;
      if (!rules_.types.Contains(type_)) {
        file_.Unset();
        return false;
      }
    }
    return true;
  }

  bool Matches() {
    if (storedTypeAfter_) return bytes_hold_text(file_, rules_, st_.st_size, habit_) && TypedAfterText();
    if (known_ == B_OK) {
      verdict_.accepted = type_;
      return HoldsText(type_);
    }
    // A document's bytes are compressed: its type comes first, then its text.
    if (rules_.documents != nullptr && has_document_head(file_)) return HeadAccepted() && HoldsText(type_);
    if (st_.st_size > kContentFirstLimit) return HeadAccepted() && HoldsText(type_);
    if (f_seek(file_, rules_.strings, st_.st_size, &habit_, head_, sizeof head_, &headSize_) == 1)
      return HeadAccepted();
    verdict_.unsettled = rules_.reportUnsettled && CouldBeAccepted();
    return false;
  }

  // Whether the head could give one of the types: most heads cannot, and saying so costs a
  // few comparisons where a guess tries every type's rules. The head is the one the scan
  // kept, when it kept one.
  bool CouldBeAccepted() {
    if (rules_.hint.RefusesNothing()) return true;
    ssize_t got = ssize_t(headSize_);
    if (got == 0 && rules_.hint.NeedsHead()) got = pread(file_.Descriptor(), head_, sizeof head_, 0);
    return got < 0 || rules_.hint.CouldBeOneOf(namePatterns_, reinterpret_cast<const uint8_t*>(head_), size_t(got));
  }

  // The type from the file's head, through the filter.
  bool HeadAccepted() {
    if (!CouldBeAccepted()) return false;
    bool accepted = BNodeInfo::GetTypeFromContent(file_, st_, type_) == B_OK && rules_.types.Contains(type_);
    if (accepted) verdict_.accepted = type_;
    return accepted;
  }

  // Whether the file holds the text: its bytes, or for a document its text.
  bool HoldsText(const char* accepted) {
    DocumentKind kind = rules_.documents != nullptr ? document_kind_of(accepted) : DocumentKind::kNone;
    if (kind == DocumentKind::kNone) return bytes_hold_text(file_, rules_, st_.st_size, habit_);
    DocumentText text;
    if (status_t status = rules_.documents->Read(file_.Descriptor(), st_, kind, &text); status != B_OK) {
      if (status != B_CANCELED) verdict_.unreadable = status;  // a stopped search reports nothing more
      return false;
    }
    return document_contains(text, rules_.strings);
  }

  // Once the text is found: the stored type, else the name's, else the head's.
  bool TypedAfterText() {
    if (BNodeInfo::GetStoredType(file_, type_) == B_OK || known_ == B_OK) {
      if (!rules_.types.Contains(type_)) return false;
      verdict_.accepted = type_;
      return true;
    }
    return HeadAccepted();
  }

  const BEntry& entry_;
  BFile& file_;
  ScanHabit& habit_;
  const FileRules& rules_;
  Verdict& verdict_;
  char type_[B_MIME_TYPE_LENGTH];
  status_t known_;
  bool selected_ = false;
  bool namePatterns_ = false;
  bool storedTypeUnread_ = true;
  bool storedTypeAfter_ = false;
  struct stat st_ {};
  char head_[ContentTypeHint::kHeadSize];  // the file's first bytes, when the scan kept them
  size_t headSize_ = 0;
};

}  // namespace

void examine_file(const BEntry& entry, const NameType& byName, FileReading& reading, const FileRules& rules,
                  Verdict* verdict) {
  Examination(entry, byName, reading, rules, verdict).Run();
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
