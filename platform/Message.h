// A message: a `what` code and named, typed fields that may hold several values each. It is also
// the program's storage format, turned into bytes by Flatten and back by Unflatten.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "Rect.h"
#include "SupportDefs.h"

struct entry_ref;
class BFile;

constexpr type_code B_ANY_TYPE = four_cc("ANYT");
constexpr type_code B_STRING_TYPE = four_cc("STRG");
constexpr type_code B_BOOL_TYPE = four_cc("BOOL");
constexpr type_code B_INT32_TYPE = four_cc("IN32");
constexpr type_code B_INT64_TYPE = four_cc("IN64");
constexpr type_code B_FLOAT_TYPE = four_cc("FL32");
constexpr type_code B_DOUBLE_TYPE = four_cc("FL64");
constexpr type_code B_RECT_TYPE = four_cc("RECT");
constexpr type_code B_POINT_TYPE = four_cc("PONT");
constexpr type_code B_REF_TYPE = four_cc("EREF");
constexpr type_code B_POINTER_TYPE = four_cc("PNTR");
constexpr type_code B_MESSAGE_TYPE = four_cc("MESG");
constexpr type_code B_RAW_TYPE = four_cc("RAWD");

class BMessage {
 public:
  BMessage();
  explicit BMessage(uint32 what);
  BMessage(const BMessage& other);
  BMessage& operator=(const BMessage& other);
  virtual ~BMessage();

  uint32 what = 0;

  status_t AddString(const char* name, const char* string);
  status_t AddBool(const char* name, bool value);
  status_t AddInt32(const char* name, int32 value);
  status_t AddInt64(const char* name, int64 value);
  status_t AddFloat(const char* name, float value);
  status_t AddDouble(const char* name, double value);
  status_t AddRect(const char* name, const BRect& rect);
  status_t AddPoint(const char* name, const BPoint& point);
  status_t AddRef(const char* name, const entry_ref* ref);
  // Pointers are for messages between loops of one process; Flatten leaves them out.
  status_t AddPointer(const char* name, const void* pointer);
  status_t AddMessage(const char* name, const BMessage* message);
  status_t AddData(const char* name, type_code type, const void* data, ssize_t numBytes);

  // Find* fail with B_NAME_NOT_FOUND, B_BAD_TYPE or B_BAD_INDEX and leave the output alone.
  // A string found stays valid until the message changes.
  status_t FindString(const char* name, const char** string) const;
  status_t FindString(const char* name, int32 index, const char** string) const;
  status_t FindBool(const char* name, bool* value) const;
  status_t FindBool(const char* name, int32 index, bool* value) const;
  status_t FindInt32(const char* name, int32* value) const;
  status_t FindInt32(const char* name, int32 index, int32* value) const;
  status_t FindInt64(const char* name, int64* value) const;
  status_t FindInt64(const char* name, int32 index, int64* value) const;
  status_t FindFloat(const char* name, float* value) const;
  status_t FindFloat(const char* name, int32 index, float* value) const;
  status_t FindDouble(const char* name, double* value) const;
  status_t FindDouble(const char* name, int32 index, double* value) const;
  status_t FindRect(const char* name, BRect* rect) const;
  status_t FindRect(const char* name, int32 index, BRect* rect) const;
  status_t FindPoint(const char* name, BPoint* point) const;
  status_t FindPoint(const char* name, int32 index, BPoint* point) const;
  status_t FindRef(const char* name, entry_ref* ref) const;
  status_t FindRef(const char* name, int32 index, entry_ref* ref) const;
  status_t FindPointer(const char* name, void** pointer) const;
  status_t FindPointer(const char* name, int32 index, void** pointer) const;
  status_t FindMessage(const char* name, BMessage* message) const;
  status_t FindMessage(const char* name, int32 index, BMessage* message) const;
  status_t FindData(const char* name, type_code type, const void** data, ssize_t* numBytes) const;
  status_t FindData(const char* name, type_code type, int32 index, const void** data,
                    ssize_t* numBytes) const;

  // The type and number of values of a field; B_NAME_NOT_FOUND when there is none.
  status_t GetInfo(const char* name, type_code* type, int32* count = nullptr) const;
  // The index-th field of a type (B_ANY_TYPE for all), in the order the fields were added.
  status_t GetInfo(type_code type, int32 index, const char** name, type_code* foundType,
                   int32* count = nullptr) const;
  int32 CountNames(type_code type) const;
  bool IsEmpty() const { return fields_.empty(); }
  bool HasField(const char* name) const { return FindField(name) != nullptr; }
  status_t RemoveName(const char* name);
  status_t MakeEmpty();

  ssize_t FlattenedSize() const;
  status_t Flatten(char* buffer, ssize_t size) const;
  // Writes the flattened message with one Write; the number of bytes written goes to size.
  status_t Flatten(BFile* file, ssize_t* size = nullptr) const;
  // Reads a message from its flattened bytes. Damaged bytes fail with B_BAD_DATA, and bytes
  // too many for the memory there is with B_NO_MEMORY, leaving the message empty; nothing is
  // read beyond size. Memory stays within a small multiple of size, however deep it nests.
  status_t Unflatten(const char* buffer, ssize_t size);
  // Reads one flattened message from the file's current position.
  status_t Unflatten(BFile* file);

 private:
  struct Field {
    std::string name;
    type_code type;
    std::vector<std::string> values;  // each value in its flattened byte form
  };

  const Field* FindField(const char* name) const;
  Field* FindField(const char* name);
  status_t AddValue(const char* name, type_code type, std::string bytes);
  status_t FindValue(const char* name, type_code type, int32 index,
                     const std::string** bytes) const;
  void FlattenInto(std::string* out) const;
  static status_t UnflattenFrom(const char* buffer, size_t size, int depth, size_t* used, BMessage* into);
  static bool IsValidValue(type_code type, const char* value, size_t size, int depth);

  void AppendField(Field field);

  std::vector<Field> fields_;  // in the order they were added, which Flatten keeps
  // Field positions by name, so that reading a message with many fields stays linear.
  std::unordered_map<std::string, size_t> index_;
};
