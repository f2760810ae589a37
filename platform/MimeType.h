// MIME type strings: validity, comparison, and the types installed on the system.
#pragma once

#include <string>

#include "SupportDefs.h"

class BMessage;

class BMimeType {
 public:
  BMimeType();
  explicit BMimeType(const char* type);
  status_t SetTo(const char* type);
  void Unset();
  status_t InitCheck() const { return status_; }

  const char* Type() const { return status_ == B_OK ? type_.c_str() : nullptr; }
  bool IsValid() const { return status_ == B_OK; }
  bool IsSupertypeOnly() const;
  // A supertype and an optional subtype of printable ASCII without spaces or separators,
  // shorter than B_MIME_TYPE_LENGTH.
  static bool IsValid(const char* type);

  // Two valid types are equal when they differ at most in letter case, are aliases of each
  // other in the MIME database, or one is the other's text/ name (TextTypes.h); an invalid
  // or empty type equals nothing, not even itself.
  bool operator==(const BMimeType& other) const;
  bool operator==(const char* other) const;

  // Adds to the string field "types" every type of the shared-mime-info database that belongs
  // to the supertype, in alphabetical order. For "text" these are every textual type by its
  // text/ name (TextTypes.h): scripts, XML, JSON and the like are text here.
  static status_t GetInstalledTypes(const char* supertype, BMessage* types);

 private:
  std::string type_;
  status_t status_ = B_NO_INIT;
};
