// The flattened form of a message, all integers little-endian:
//
//   header   "TWKM"  magic, 4 bytes
//            u32     format version, 1
//            u32     total size in bytes, header included
//            u32     what
//            u32     number of fields
//   field    u32     type code
//            u16     name length (1 to 255), then the name's bytes, no terminator
//            u32     number of values (at least 1)
//            value   u32 size, then that many bytes
//
// Values: a string keeps its terminating NUL; bool is 1 byte; int32 and float 4; int64 and
// double 8; a point is 2 floats and a rect 4 (left, top, right, bottom); an entry ref is
// i64 device, i64 folder inode, u32 length and the leaf name, u32 length and the folder path;
// a message is its own flattened form. Pointer fields are never written.
//
// Unflatten checks every length against the bytes that remain before it reads or allocates,
// so damaged input fails with B_BAD_DATA and the work done is bounded by the input's size.
#include "Message.h"

#include <cstring>
#include <limits>
#include <new>
#include <string_view>
#include <unordered_set>
#include <sys/stat.h>

#include "Entry.h"
#include "File.h"
#include "LittleEndian.h"

namespace {

constexpr char kMagic[4] = {'T', 'W', 'K', 'M'};
constexpr uint32 kVersion = 1;
constexpr size_t kHeaderSize = 20;
constexpr size_t kMaxNameLength = 255;
// Messages nest (a window archive holds its views); deeper input is taken as damaged.
constexpr int kMaxDepth = 64;
// A flattened message read from a file is at most this big; saved searches and archives are
// a few kilobytes.
constexpr size_t kMaxFileMessage = 64 << 20;

void set_u32_at(std::string* out, size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*out)[offset + i] = char((v >> (8 * i)) & 0xff);
}

// A bounds-checked reader over untrusted bytes.
class Reader {
 public:
  Reader(const char* data, size_t size) : data_(data), size_(size) {}
  size_t remaining() const { return size_ - pos_; }
  bool Skip(size_t n, const char** at) {
    if (n > remaining()) return false;
    *at = data_ + pos_;
    pos_ += n;
    return true;
  }
  bool U16(uint32_t* v) { return Fixed(2, v); }
  bool U32(uint32_t* v) { return Fixed(4, v); }

 private:
  bool Fixed(int bytes, uint32_t* v) {
    const char* at;
    if (!Skip(size_t(bytes), &at)) return false;
    *v = uint32_t(get_le(at, bytes));
    return true;
  }
  const char* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Encodings of the fixed-size values.
std::string encode_u32(uint32_t v) {
  std::string out;
  put_le(&out, v, 4);
  return out;
}

std::string encode_u64(uint64_t v) {
  std::string out;
  put_le(&out, v, 8);
  return out;
}

template <typename Float, typename Bits>
Bits float_bits(Float f) {
  Bits bits;
  static_assert(sizeof bits == sizeof f);
  memcpy(&bits, &f, sizeof bits);
  return bits;
}

template <typename Float, typename Bits>
Float bits_float(Bits bits) {
  Float f;
  memcpy(&f, &bits, sizeof f);
  return f;
}

std::string encode_floats(std::initializer_list<float> values) {
  std::string out;
  for (float f : values) put_le(&out, float_bits<float, uint32_t>(f), 4);
  return out;
}

float float_at(const std::string& bytes, size_t index) {
  return bits_float<float, uint32_t>(uint32_t(get_le(bytes.data() + 4 * index, 4)));
}

std::string encode_ref(const entry_ref& ref) {
  std::string out;
  put_le(&out, uint64_t(ref.device), 8);
  put_le(&out, uint64_t(ref.directory), 8);
  size_t nameLength = ref.name ? strlen(ref.name) : 0;
  put_le(&out, uint32_t(nameLength), 4);
  out.append(ref.name ? ref.name : "", nameLength);
  std::string folder = ref.directory_path();
  put_le(&out, uint32_t(folder.size()), 4);
  out += folder;
  return out;
}

bool decode_ref(const std::string& bytes, entry_ref* ref) {
  Reader in(bytes.data(), bytes.size());
  const char *device, *directory, *name, *path;
  uint32_t nameLength, pathLength;
  if (!in.Skip(8, &device) || !in.Skip(8, &directory) || !in.U32(&nameLength) ||
      !in.Skip(nameLength, &name) || !in.U32(&pathLength) || !in.Skip(pathLength, &path) ||
      in.remaining() != 0)
    return false;
  std::string leaf(name, nameLength);
  if (leaf.empty() || leaf.size() >= B_FILE_NAME_LENGTH || leaf.find('/') != leaf.npos ||
      leaf.find('\0') != leaf.npos || memchr(path, 0, pathLength) != nullptr)
    return false;
  if (ref != nullptr) {
    ref->device = dev_t(get_le(device, 8));
    ref->directory = ino_t(get_le(directory, 8));
    ref->set_directory_path(std::string(path, pathLength));
    if (ref->set_name(leaf.c_str()) != B_OK) return false;
  }
  return true;
}

// The size a value of a fixed-size type must have, or 0 for types of any size.
size_t fixed_size(type_code type) {
  switch (type) {
    case B_BOOL_TYPE: return 1;
    case B_INT32_TYPE:
    case B_FLOAT_TYPE: return 4;
    case B_INT64_TYPE:
    case B_DOUBLE_TYPE:
    case B_POINT_TYPE:
    case B_POINTER_TYPE: return 8;
    case B_RECT_TYPE: return 16;
    default: return 0;
  }
}

// Raw bytes may stand for a value of a fixed-size type when they have its size; messages and
// refs go through AddMessage and AddRef, which check their form.
bool is_raw_value(type_code type, const void* data, ssize_t numBytes) {
  if (numBytes < 0 || (data == nullptr && numBytes > 0)) return false;
  if (type == B_MESSAGE_TYPE || type == B_REF_TYPE) return false;
  size_t fixed = fixed_size(type);
  return fixed == 0 || size_t(numBytes) == fixed;
}

}  // namespace

BMessage::BMessage() = default;

BMessage::BMessage(uint32 code) : what(code) {}

BMessage::BMessage(const BMessage& other) = default;

BMessage& BMessage::operator=(const BMessage& other) = default;

BMessage::~BMessage() = default;

const BMessage::Field* BMessage::FindField(const char* name) const {
  if (name == nullptr) return nullptr;
  auto found = index_.find(name);
  return found == index_.end() ? nullptr : &fields_[found->second];
}

void BMessage::AppendField(Field field) {
  index_.emplace(field.name, fields_.size());
  fields_.push_back(std::move(field));
}

BMessage::Field* BMessage::FindField(const char* name) {
  return const_cast<Field*>(static_cast<const BMessage*>(this)->FindField(name));
}

status_t BMessage::AddValue(const char* name, type_code type, std::string bytes) {
  if (name == nullptr || *name == '\0' || strlen(name) > kMaxNameLength) return B_BAD_VALUE;
  if (type == B_ANY_TYPE) return B_BAD_TYPE;
  if (Field* field = FindField(name)) {
    if (field->type != type) return B_BAD_TYPE;
    field->values.push_back(std::move(bytes));
    return B_OK;
  }
  AppendField(Field{name, type, {std::move(bytes)}});
  return B_OK;
}

status_t BMessage::FindValue(const char* name, type_code type, int32 index,
                             const std::string** bytes) const {
  const Field* field = FindField(name);
  if (field == nullptr) return B_NAME_NOT_FOUND;
  if (type != B_ANY_TYPE && field->type != type) return B_BAD_TYPE;
  if (index < 0 || size_t(index) >= field->values.size()) return B_BAD_INDEX;
  *bytes = &field->values[size_t(index)];
  return B_OK;
}

// ---- Add

status_t BMessage::AddString(const char* name, const char* string) {
  if (string == nullptr) return B_BAD_VALUE;
  return AddValue(name, B_STRING_TYPE, std::string(string, strlen(string) + 1));
}

status_t BMessage::AddBool(const char* name, bool value) {
  return AddValue(name, B_BOOL_TYPE, std::string(1, value ? 1 : 0));
}

status_t BMessage::AddInt32(const char* name, int32 value) {
  return AddValue(name, B_INT32_TYPE, encode_u32(uint32_t(value)));
}

status_t BMessage::AddInt64(const char* name, int64 value) {
  return AddValue(name, B_INT64_TYPE, encode_u64(uint64_t(value)));
}

status_t BMessage::AddFloat(const char* name, float value) {
  return AddValue(name, B_FLOAT_TYPE, encode_floats({value}));
}

status_t BMessage::AddDouble(const char* name, double value) {
  return AddValue(name, B_DOUBLE_TYPE, encode_u64(float_bits<double, uint64_t>(value)));
}

status_t BMessage::AddRect(const char* name, const BRect& r) {
  return AddValue(name, B_RECT_TYPE, encode_floats({r.left, r.top, r.right, r.bottom}));
}

status_t BMessage::AddPoint(const char* name, const BPoint& p) {
  return AddValue(name, B_POINT_TYPE, encode_floats({p.x, p.y}));
}

status_t BMessage::AddRef(const char* name, const entry_ref* ref) {
  if (ref == nullptr || ref->name == nullptr) return B_BAD_VALUE;
  return AddValue(name, B_REF_TYPE, encode_ref(*ref));
}

status_t BMessage::AddPointer(const char* name, const void* pointer) {
  return AddValue(name, B_POINTER_TYPE, encode_u64(uint64_t(uintptr_t(pointer))));
}

status_t BMessage::AddMessage(const char* name, const BMessage* message) {
  if (message == nullptr) return B_BAD_VALUE;
  std::string bytes;
  message->FlattenInto(&bytes);
  return AddValue(name, B_MESSAGE_TYPE, std::move(bytes));
}

status_t BMessage::AddData(const char* name, type_code type, const void* data,
                           ssize_t numBytes) {
  if (!is_raw_value(type, data, numBytes)) return B_BAD_VALUE;
  return AddValue(name, type, std::string(static_cast<const char*>(data), size_t(numBytes)));
}

// ---- Find

status_t BMessage::FindString(const char* name, const char** string) const {
  return FindString(name, 0, string);
}

status_t BMessage::FindString(const char* name, int32 index, const char** string) const {
  const std::string* bytes;
  status_t status = FindValue(name, B_STRING_TYPE, index, &bytes);
  if (status == B_OK && string != nullptr) *string = bytes->c_str();
  return status;
}

status_t BMessage::FindBool(const char* name, bool* value) const {
  return FindBool(name, 0, value);
}

status_t BMessage::FindBool(const char* name, int32 index, bool* value) const {
  const std::string* bytes;
  status_t status = FindValue(name, B_BOOL_TYPE, index, &bytes);
  if (status == B_OK && value != nullptr) *value = (*bytes)[0] != 0;
  return status;
}

status_t BMessage::FindInt32(const char* name, int32* value) const {
  return FindInt32(name, 0, value);
}

status_t BMessage::FindInt32(const char* name, int32 index, int32* value) const {
  const std::string* bytes;
  status_t status = FindValue(name, B_INT32_TYPE, index, &bytes);
  if (status == B_OK && value != nullptr) *value = int32(uint32_t(get_le(bytes->data(), 4)));
  return status;
}

status_t BMessage::FindInt64(const char* name, int64* value) const {
  return FindInt64(name, 0, value);
}

status_t BMessage::FindInt64(const char* name, int32 index, int64* value) const {
  const std::string* bytes;
  status_t status = FindValue(name, B_INT64_TYPE, index, &bytes);
  if (status == B_OK && value != nullptr) *value = int64(get_le(bytes->data(), 8));
  return status;
}

status_t BMessage::FindFloat(const char* name, float* value) const {
  return FindFloat(name, 0, value);
}

status_t BMessage::FindFloat(const char* name, int32 index, float* value) const {
  const std::string* bytes;
  status_t status = FindValue(name, B_FLOAT_TYPE, index, &bytes);
  if (status == B_OK && value != nullptr) *value = float_at(*bytes, 0);
  return status;
}

status_t BMessage::FindDouble(const char* name, double* value) const {
  return FindDouble(name, 0, value);
}

status_t BMessage::FindDouble(const char* name, int32 index, double* value) const {
  const std::string* bytes;
  status_t status = FindValue(name, B_DOUBLE_TYPE, index, &bytes);
  if (status == B_OK && value != nullptr)
    *value = bits_float<double, uint64_t>(get_le(bytes->data(), 8));
  return status;
}

status_t BMessage::FindRect(const char* name, BRect* rect) const {
  return FindRect(name, 0, rect);
}

status_t BMessage::FindRect(const char* name, int32 index, BRect* rect) const {
  const std::string* bytes;
  status_t status = FindValue(name, B_RECT_TYPE, index, &bytes);
  if (status == B_OK && rect != nullptr)
    *rect = BRect(float_at(*bytes, 0), float_at(*bytes, 1), float_at(*bytes, 2),
                  float_at(*bytes, 3));
  return status;
}

status_t BMessage::FindPoint(const char* name, BPoint* point) const {
  return FindPoint(name, 0, point);
}

status_t BMessage::FindPoint(const char* name, int32 index, BPoint* point) const {
  const std::string* bytes;
  status_t status = FindValue(name, B_POINT_TYPE, index, &bytes);
  if (status == B_OK && point != nullptr) *point = BPoint(float_at(*bytes, 0), float_at(*bytes, 1));
  return status;
}

status_t BMessage::FindRef(const char* name, entry_ref* ref) const {
  return FindRef(name, 0, ref);
}

status_t BMessage::FindRef(const char* name, int32 index, entry_ref* ref) const {
  const std::string* bytes;
  status_t status = FindValue(name, B_REF_TYPE, index, &bytes);
  if (status != B_OK) return status;
  return decode_ref(*bytes, ref) ? B_OK : B_BAD_DATA;
}

status_t BMessage::FindPointer(const char* name, void** pointer) const {
  return FindPointer(name, 0, pointer);
}

status_t BMessage::FindPointer(const char* name, int32 index, void** pointer) const {
  const std::string* bytes;
  status_t status = FindValue(name, B_POINTER_TYPE, index, &bytes);
  if (status == B_OK && pointer != nullptr)
    *pointer = reinterpret_cast<void*>(uintptr_t(get_le(bytes->data(), 8)));
  return status;
}

status_t BMessage::FindMessage(const char* name, BMessage* message) const {
  return FindMessage(name, 0, message);
}

status_t BMessage::FindMessage(const char* name, int32 index, BMessage* message) const {
  const std::string* bytes;
  status_t status = FindValue(name, B_MESSAGE_TYPE, index, &bytes);
  if (status != B_OK || message == nullptr) return status;
  return message->Unflatten(bytes->data(), ssize_t(bytes->size()));
}

status_t BMessage::FindData(const char* name, type_code type, const void** data,
                            ssize_t* numBytes) const {
  return FindData(name, type, 0, data, numBytes);
}

status_t BMessage::FindData(const char* name, type_code type, int32 index, const void** data,
                            ssize_t* numBytes) const {
  const std::string* bytes;
  status_t status = FindValue(name, type, index, &bytes);
  if (status != B_OK) return status;
  if (data != nullptr) *data = bytes->data();
  if (numBytes != nullptr) *numBytes = ssize_t(bytes->size());
  return B_OK;
}

// ---- Fields

status_t BMessage::GetInfo(const char* name, type_code* type, int32* count) const {
  const Field* field = FindField(name);
  if (field == nullptr) return B_NAME_NOT_FOUND;
  if (type != nullptr) *type = field->type;
  if (count != nullptr) *count = int32(field->values.size());
  return B_OK;
}

status_t BMessage::GetInfo(type_code type, int32 index, const char** name, type_code* foundType,
                           int32* count) const {
  if (index < 0) return B_BAD_INDEX;
  for (const Field& field : fields_) {
    if (type != B_ANY_TYPE && field.type != type) continue;
    if (index-- > 0) continue;
    if (name != nullptr) *name = field.name.c_str();
    if (foundType != nullptr) *foundType = field.type;
    if (count != nullptr) *count = int32(field.values.size());
    return B_OK;
  }
  return B_BAD_INDEX;
}

int32 BMessage::CountNames(type_code type) const {
  int32 count = 0;
  for (const Field& field : fields_)
    if (type == B_ANY_TYPE || field.type == type) ++count;
  return count;
}

status_t BMessage::RemoveName(const char* name) {
  auto found = index_.find(name ? name : "");
  if (found == index_.end()) return B_NAME_NOT_FOUND;
  fields_.erase(fields_.begin() + ptrdiff_t(found->second));
  index_.clear();
  for (size_t i = 0; i < fields_.size(); ++i) index_.emplace(fields_[i].name, i);
  return B_OK;
}

status_t BMessage::MakeEmpty() {
  fields_.clear();
  index_.clear();
  return B_OK;
}

// ---- Flatten

void BMessage::FlattenInto(std::string* out) const {
  size_t start = out->size();
  out->append(kMagic, sizeof kMagic);
  put_le(out, kVersion, 4);
  put_le(out, 0, 4);  // total size, filled in below
  put_le(out, what, 4);
  put_le(out, uint32_t(fields_.size() - CountNames(B_POINTER_TYPE)), 4);
  for (const Field& field : fields_) {
    if (field.type == B_POINTER_TYPE) continue;
    put_le(out, field.type, 4);
    put_le(out, uint16_t(field.name.size()), 2);
    *out += field.name;
    put_le(out, uint32_t(field.values.size()), 4);
    for (const std::string& value : field.values) {
      put_le(out, uint32_t(value.size()), 4);
      *out += value;
    }
  }
  set_u32_at(out, start + 8, uint32_t(out->size() - start));
}

ssize_t BMessage::FlattenedSize() const {
  size_t size = kHeaderSize;
  for (const Field& field : fields_) {
    if (field.type == B_POINTER_TYPE) continue;
    size += 4 + 2 + field.name.size() + 4;
    for (const std::string& value : field.values) size += 4 + value.size();
  }
  return ssize_t(size);
}

status_t BMessage::Flatten(char* buffer, ssize_t size) const {
  if (buffer == nullptr) return B_BAD_VALUE;
  std::string bytes;
  FlattenInto(&bytes);
  if (size < ssize_t(bytes.size())) return B_BAD_VALUE;
  memcpy(buffer, bytes.data(), bytes.size());
  return B_OK;
}

status_t BMessage::Flatten(BFile* file, ssize_t* size) const {
  if (file == nullptr) return B_BAD_VALUE;
  std::string bytes;
  FlattenInto(&bytes);
  ssize_t written = file->Write(bytes.data(), bytes.size());
  if (size != nullptr) *size = written < 0 ? 0 : written;
  if (written < 0) return status_t(written);
  return size_t(written) == bytes.size() ? B_OK : B_FILE_ERROR;
}

// ---- Unflatten

status_t BMessage::Unflatten(const char* buffer, ssize_t size) {
  MakeEmpty();
  what = 0;
  if (buffer == nullptr || size < 0) return B_BAD_VALUE;
  size_t used;
  status_t status;
  try {
    status = UnflattenFrom(buffer, size_t(size), 0, &used, this);
  } catch (const std::bad_alloc&) {
    status = B_NO_MEMORY;
  }
  if (status != B_OK) {
    MakeEmpty();
    what = 0;
  }
  return status;
}

// Reads the flattened message in buffer into `into`, or with no `into` only checks it. A
// message nested in a field is only checked here, in place: its bytes are kept as the field's
// value and read into a message of its own when FindMessage asks, so however deep records
// nest, reading one copies its bytes once.
status_t BMessage::UnflattenFrom(const char* buffer, size_t size, int depth, size_t* used, BMessage* into) {
  if (depth > kMaxDepth || size < kHeaderSize || memcmp(buffer, kMagic, 4) != 0)
    return B_BAD_DATA;
  if (get_le(buffer + 4, 4) != kVersion) return B_BAD_DATA;
  size_t total = size_t(get_le(buffer + 8, 4));
  if (total < kHeaderSize || total > size) return B_BAD_DATA;
  if (into != nullptr) into->what = uint32(get_le(buffer + 12, 4));
  uint32_t fieldCount = uint32_t(get_le(buffer + 16, 4));
  Reader in(buffer + kHeaderSize, total - kHeaderSize);
  std::unordered_set<std::string_view> names;
  for (uint32_t f = 0; f < fieldCount; ++f) {
    uint32_t type, nameLength, valueCount;
    const char* name;
    if (!in.U32(&type) || !in.U16(&nameLength) || nameLength == 0 ||
        !in.Skip(nameLength, &name) || !in.U32(&valueCount) || valueCount == 0)
      return B_BAD_DATA;
    std::string_view fieldName(name, nameLength);
    // Each value needs at least its size word, so the count is bounded by what remains.
    if (valueCount > in.remaining() / 4 || fieldName.find('\0') != fieldName.npos ||
        !names.insert(fieldName).second || type == B_POINTER_TYPE || type == B_ANY_TYPE)
      return B_BAD_DATA;
    Field field{std::string(fieldName), type, {}};
    for (uint32_t v = 0; v < valueCount; ++v) {
      uint32_t valueSize;
      const char* value;
      if (!in.U32(&valueSize) || !in.Skip(valueSize, &value) || !IsValidValue(type, value, valueSize, depth))
        return B_BAD_DATA;
      if (into != nullptr) field.values.emplace_back(value, valueSize);
    }
    if (into != nullptr) into->AppendField(std::move(field));
  }
  if (in.remaining() != 0) return B_BAD_DATA;
  *used = total;
  return B_OK;
}

bool BMessage::IsValidValue(type_code type, const char* value, size_t size, int depth) {
  size_t fixed = fixed_size(type);
  if (fixed != 0 && size != fixed) return false;
  if (type == B_STRING_TYPE && (size == 0 || value[size - 1] != '\0')) return false;
  if (type == B_REF_TYPE && !decode_ref(std::string(value, size), nullptr)) return false;
  size_t innerUsed;
  if (type == B_MESSAGE_TYPE && (UnflattenFrom(value, size, depth + 1, &innerUsed, nullptr) != B_OK || innerUsed != size))
    return false;
  return true;
}

status_t BMessage::Unflatten(BFile* file) {
  MakeEmpty();
  what = 0;
  if (file == nullptr || file->InitCheck() != B_OK) return B_BAD_VALUE;
  char header[kHeaderSize];
  ssize_t got = file->Read(header, sizeof header);
  if (got < 0) return status_t(got);
  if (size_t(got) != sizeof header || memcmp(header, kMagic, 4) != 0) return B_BAD_DATA;
  size_t total = size_t(get_le(header + 8, 4));
  // Allocate only for bytes the file really holds.
  off_t fileSize = 0;
  if (file->GetSize(&fileSize) != B_OK) return B_FILE_ERROR;
  off_t position = file->Position();
  if (total < kHeaderSize || total > kMaxFileMessage || position < 0 ||
      off_t(total - kHeaderSize) > fileSize - position)
    return B_BAD_DATA;
  std::string bytes;
  try {
    bytes.assign(header, sizeof header);
    bytes.resize(total);
  } catch (const std::bad_alloc&) {
    return B_NO_MEMORY;
  }
  got = file->Read(bytes.data() + kHeaderSize, total - kHeaderSize);
  if (got < 0) return status_t(got);
  if (size_t(got) != total - kHeaderSize) return B_BAD_DATA;
  return Unflatten(bytes.data(), ssize_t(bytes.size()));
}
