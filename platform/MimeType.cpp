#include "MimeType.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "AsciiFold.h"
#include "GioOnDemand.h"
#include "Message.h"
#include "TextTypes.h"

namespace {

bool is_token_char(unsigned char c) {
  return c > 0x20 && c < 0x7f && strchr("()<>@,;:\\\"/[]?=", c) == nullptr;
}

bool starts_with_folded(const char* text, const std::string& prefix) {
  for (size_t i = 0; i < prefix.size(); ++i)
    if (text[i] == '\0' || ascii::fold(text[i]) != ascii::fold(prefix[i])) return false;
  return true;
}

}  // namespace

BMimeType::BMimeType() = default;

BMimeType::BMimeType(const char* type) { SetTo(type); }

status_t BMimeType::SetTo(const char* type) {
  Unset();
  if (!IsValid(type)) return status_ = B_BAD_VALUE;
  type_ = type;
  return status_ = B_OK;
}

void BMimeType::Unset() {
  type_.clear();
  status_ = B_NO_INIT;
}

bool BMimeType::IsValid(const char* type) {
  if (type == nullptr) return false;
  size_t length = strlen(type);
  if (length == 0 || length >= B_MIME_TYPE_LENGTH) return false;
  const char* slash = strchr(type, '/');
  if (slash == type || (slash != nullptr && slash[1] == '\0')) return false;
  for (const char* p = type; *p != '\0'; ++p)
    if (p != slash && !is_token_char(static_cast<unsigned char>(*p))) return false;
  return true;
}

bool BMimeType::IsSupertypeOnly() const {
  return status_ == B_OK && type_.find('/') == std::string::npos;
}

bool BMimeType::operator==(const BMimeType& other) const {
  return status_ == B_OK && other.status_ == B_OK && same_mime_type(type_.c_str(), other.type_.c_str());
}

bool BMimeType::operator==(const char* other) const { return *this == BMimeType(other); }

status_t BMimeType::GetInstalledTypes(const char* supertype, BMessage* types) {
  BMimeType super(supertype);
  if (!super.IsSupertypeOnly() || types == nullptr) return B_BAD_VALUE;
  std::string prefix = super.type_ + "/";
  std::vector<std::string> found;
  if (ascii::casecmp(supertype, "text") == 0) {
    found = text_type_names();  // the textual types of every supertype, by their text/ names
  } else {
    for (const std::string& type : gio_on_demand::registered_types())
      if (starts_with_folded(type.c_str(), prefix)) found.push_back(type);
  }
  found.erase(std::remove_if(found.begin(), found.end(), [](const std::string& type) { return !IsValid(type.c_str()); }),
              found.end());
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  if (found.empty()) return B_ENTRY_NOT_FOUND;
  for (const std::string& type : found)
    if (status_t status = types->AddString("types", type.c_str()); status != B_OK) return status;
  return B_OK;
}
