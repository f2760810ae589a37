// A node's MIME type and the application that opens that one file.
#pragma once

#include "SupportDefs.h"

class BEntry;
class BNode;
struct stat;

// GetTypeWithoutContent: the name leaves the type open, and only the content can tell.
constexpr status_t B_TYPE_NEEDS_CONTENT = kOwnCodeBase - 20;

enum app_verb { B_OPEN };

// The extended attributes that hold a file's type and its own preferred application.
constexpr const char* kTypeAttr = "user.mime_type";
constexpr const char* kPreferredAppAttr = "user.preferred_app";

class BNodeInfo {
 public:
  BNodeInfo();
  explicit BNodeInfo(BNode* node);
  status_t SetTo(BNode* node);
  status_t InitCheck() const { return status_; }

  // Fills a buffer of B_MIME_TYPE_LENGTH bytes with the node's type, found in this order:
  //  1. the "user.mime_type" attribute (the freedesktop shared-metadata attribute), when it
  //     holds 1 to 239 bytes;
  //  2. otherwise the shared-mime-info database, asked through GIO, by the file's name;
  //  3. when the name does not settle it (README, copyright, changelog files), by the name
  //     and the first kilobytes of the content, read without moving the file's position.
  // A file that none of these types has no type: B_ENTRY_NOT_FOUND. A textual type is given
  // by its text/ name (TextTypes.h): a shell script is text/x-sh, a JSON file text/json.
  // The old kit kept a type for every file; here most files are typed by name, as the Linux
  // desktop types them.
  status_t GetType(char* type) const;
  // GetType in two steps, for a walk that opens files only when it must. The first reads the
  // attribute without opening the file, then asks the name, and answers B_TYPE_NEEDS_CONTENT
  // when that leaves the type open; the second then guesses from the head of the open
  // file, whose status (from its open descriptor) keys a cache for the life of the process;
  // a file changed in the last few seconds is guessed afresh each time, since where
  // timestamps are coarse its status may not show a change yet. Together they give the same
  // type as GetType.
  static status_t GetTypeWithoutContent(const BEntry& entry, char* type);
  static status_t GetTypeFromContent(const BNode& node, const struct stat& st, char* type);
  // The first step's two parts, for a walk that orders them itself (reading the attribute of
  // a file it opens anyway costs less from the descriptor): the stored type, by name
  // or from an open file (B_ENTRY_NOT_FOUND without one, type then untouched), which wins
  // over the type the name gives (or B_TYPE_NEEDS_CONTENT, type then holding the name's most
  // likely type, kNoPatternType when no pattern of the database matches the name).
  static constexpr const char* kNoPatternType = "application/octet-stream";
  static status_t GetStoredType(const BEntry& entry, char* type);
  static status_t GetStoredType(const BNode& node, char* type);
  static status_t GetTypeByName(const BEntry& entry, char* type);
  // Writes the "user.mime_type" attribute; null or "" removes it.
  status_t SetType(const char* type);

  // The signature of the application that opens this one file, from its own attribute.
  status_t GetPreferredApp(char* signature, app_verb verb = B_OPEN) const;
  // null removes the setting.
  status_t SetPreferredApp(const char* signature, app_verb verb = B_OPEN);

 private:
  status_t ReadStringAttr(const char* attr, char* out) const;
  status_t WriteStringAttr(const char* attr, const char* value);

  BNode* node_ = nullptr;
  status_t status_ = B_NO_INIT;
};
