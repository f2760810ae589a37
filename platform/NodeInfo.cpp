#include "NodeInfo.h"

#include <cstring>
#include <gio/gio.h>
#include <unistd.h>

#include "Node.h"
#include "TextTypes.h"

namespace {

// How much of a file's head the content guess reads.
constexpr size_t kSniffSize = 4096;
// What shared-mime-info answers when it knows nothing about a file.
constexpr const char* kUnknownType = "application/octet-stream";

// Copies a GIO guess into the caller's buffer; false for no usable type.
bool take_guess(gchar* guess, char* type) {
  bool usable = guess != nullptr && strcmp(guess, kUnknownType) != 0 &&
                strlen(guess) < B_MIME_TYPE_LENGTH;
  if (usable) strcpy(type, guess);
  g_free(guess);
  return usable;
}

// A textual type is read by its text/ name (TextTypes.h), whether stored or guessed.
void use_text_name(char* type) {
  std::string name = text_name_of(type);
  if (name.size() < B_MIME_TYPE_LENGTH) memcpy(type, name.c_str(), name.size() + 1);
}

}  // namespace

BNodeInfo::BNodeInfo() = default;

BNodeInfo::BNodeInfo(BNode* node) { SetTo(node); }

status_t BNodeInfo::SetTo(BNode* node) {
  node_ = node;
  if (node == nullptr) return status_ = B_BAD_VALUE;
  return status_ = node->InitCheck();
}

status_t BNodeInfo::ReadStringAttr(const char* attr, char* out) const {
  ssize_t got = node_->ReadAttr(attr, out, B_MIME_TYPE_LENGTH - 1);
  if (got == -ERANGE) return B_BAD_VALUE;  // longer than any type or signature may be
  if (got < 0) return status_t(got);
  while (got > 0 && out[got - 1] == '\0') --got;  // some tools store the terminator
  if (got == 0 || memchr(out, '\0', size_t(got)) != nullptr) return B_BAD_VALUE;
  out[got] = '\0';
  return B_OK;
}

status_t BNodeInfo::WriteStringAttr(const char* attr, const char* value) {
  if (value == nullptr || *value == '\0') {
    status_t status = node_->RemoveAttr(attr);
    return status == B_ENTRY_NOT_FOUND ? B_OK : status;
  }
  size_t length = strlen(value);
  if (length >= B_MIME_TYPE_LENGTH) return B_BAD_VALUE;
  return node_->WriteAttr(attr, value, length);
}

status_t BNodeInfo::GetType(char* type) const {
  if (status_ != B_OK) return status_;
  if (type == nullptr) return B_BAD_VALUE;
  status_t status = ReadStringAttr(kTypeAttr, type);
  if (status != B_OK) status = GuessType(type);
  if (status == B_OK) use_text_name(type);
  return status;
}

status_t BNodeInfo::GuessType(char* type) const {
  gboolean uncertain = TRUE;
  gchar* byName = g_content_type_guess(node_->Name(), nullptr, 0, &uncertain);
  if (!uncertain) return take_guess(byName, type) ? B_OK : B_ENTRY_NOT_FOUND;
  g_free(byName);
  if (!node_->CanRead()) return B_ENTRY_NOT_FOUND;
  guchar head[kSniffSize];
  ssize_t got = pread(node_->Descriptor(), head, sizeof head, 0);
  if (got <= 0) return B_ENTRY_NOT_FOUND;
  gchar* byContent = g_content_type_guess(node_->Name(), head, gsize(got), &uncertain);
  return take_guess(byContent, type) ? B_OK : B_ENTRY_NOT_FOUND;
}

status_t BNodeInfo::SetType(const char* type) {
  if (status_ != B_OK) return status_;
  return WriteStringAttr(kTypeAttr, type);
}

status_t BNodeInfo::GetPreferredApp(char* signature, app_verb) const {
  if (status_ != B_OK) return status_;
  if (signature == nullptr) return B_BAD_VALUE;
  return ReadStringAttr(kPreferredAppAttr, signature);
}

status_t BNodeInfo::SetPreferredApp(const char* signature, app_verb) {
  if (status_ != B_OK) return status_;
  return WriteStringAttr(kPreferredAppAttr, signature);
}
