// The resource container, all integers little-endian:
//
//   "TWKR"  magic, 4 bytes
//   u32     version, 1
//   u32     number of resources
//   then each resource: u32 type code, i32 id, u16 name length and the name's bytes (no
//   terminator), u32 data size and the data.
//
// In an executable the container is the content of the ELF section named kResourceSection,
// found through the section headers. Every offset and length read from the file is checked
// against the file's size before it is used.
#include "Resources.h"

#include <cstring>
#include <elf.h>

#include "File.h"
#include "LittleEndian.h"

namespace {

constexpr char kMagic[4] = {'T', 'W', 'K', 'R'};
constexpr uint32_t kVersion = 1;
// Resources are small; a larger section is taken as damaged.
constexpr uint64_t kMaxContainer = 64 << 20;

bool read_at(BFile* file, uint64_t offset, uint64_t size, uint64_t fileSize, std::string* out) {
  if (offset > fileSize || size > fileSize - offset) return false;
  out->resize(size);
  return file->ReadAt(off_t(offset), out->data(), size) == ssize_t(size);
}

// Finds the resource section of a 64-bit little-endian ELF file: its offset and size.
bool find_section(BFile* file, uint64_t fileSize, uint64_t* offset, uint64_t* size) {
  std::string header;
  if (!read_at(file, 0, sizeof(Elf64_Ehdr), fileSize, &header)) return false;
  Elf64_Ehdr ehdr;
  memcpy(&ehdr, header.data(), sizeof ehdr);
  if (memcmp(ehdr.e_ident, ELFMAG, SELFMAG) != 0 || ehdr.e_ident[EI_CLASS] != ELFCLASS64 ||
      ehdr.e_ident[EI_DATA] != ELFDATA2LSB || ehdr.e_shentsize != sizeof(Elf64_Shdr) ||
      ehdr.e_shstrndx >= ehdr.e_shnum)
    return false;
  std::string table;
  if (!read_at(file, ehdr.e_shoff, uint64_t(ehdr.e_shnum) * sizeof(Elf64_Shdr), fileSize, &table))
    return false;
  auto section = [&](size_t index) {
    Elf64_Shdr shdr;
    memcpy(&shdr, table.data() + index * sizeof shdr, sizeof shdr);
    return shdr;
  };
  Elf64_Shdr names = section(ehdr.e_shstrndx);
  std::string strings;
  if (names.sh_size > kMaxContainer || !read_at(file, names.sh_offset, names.sh_size, fileSize, &strings))
    return false;
  for (size_t i = 0; i < ehdr.e_shnum; ++i) {
    Elf64_Shdr shdr = section(i);
    if (shdr.sh_name >= strings.size()) continue;
    const char* name = strings.c_str() + shdr.sh_name;  // the table may lack a last NUL
    if (strnlen(name, strings.size() - shdr.sh_name) == strings.size() - shdr.sh_name) continue;
    if (strcmp(name, kResourceSection) == 0) {
      *offset = shdr.sh_offset;
      *size = shdr.sh_size;
      return true;
    }
  }
  return false;
}

}  // namespace

BResources::BResources() = default;

status_t BResources::SetTo(BFile* file, bool) {
  entries_.clear();
  if (file == nullptr || file->InitCheck() != B_OK) return B_BAD_VALUE;
  off_t fileSize;
  if (file->GetSize(&fileSize) != B_OK) return B_FILE_ERROR;
  uint64_t offset = 0, size = uint64_t(fileSize);
  std::string magic;
  bool bare = read_at(file, 0, 4, size, &magic) && memcmp(magic.data(), kMagic, 4) == 0;
  if (!bare && !find_section(file, uint64_t(fileSize), &offset, &size)) return B_BAD_DATA;
  std::string bytes;
  if (size > kMaxContainer || !read_at(file, offset, size, uint64_t(fileSize), &bytes))
    return B_BAD_DATA;
  return SetTo(bytes.data(), bytes.size());
}

status_t BResources::SetTo(const char* bytes, size_t size) {
  entries_.clear();
  size_t pos = 0;
  auto take = [&](size_t n, const char** at) {
    if (n > size - pos) return false;
    *at = bytes + pos;
    pos += n;
    return true;
  };
  const char *p, *name, *data;
  if (bytes == nullptr || !take(12, &p) || memcmp(p, kMagic, 4) != 0 ||
      get_le(p + 4, 4) != kVersion)
    return B_BAD_DATA;
  uint64_t count = get_le(p + 8, 4);
  if (count > size / 14) return B_BAD_DATA;  // each resource takes at least 14 bytes
  std::vector<Entry> entries;
  for (uint64_t i = 0; i < count; ++i) {
    if (!take(10, &p)) return B_BAD_DATA;
    size_t nameLength = size_t(get_le(p + 8, 2));
    const char* sizeField;
    if (!take(nameLength, &name) || !take(4, &sizeField)) return B_BAD_DATA;
    if (!take(size_t(get_le(sizeField, 4)), &data)) return B_BAD_DATA;
    entries.push_back({type_code(get_le(p, 4)), int32(uint32_t(get_le(p + 4, 4))),
                       std::string(name, nameLength), std::string(data, size_t(get_le(sizeField, 4)))});
  }
  if (pos != size) return B_BAD_DATA;
  entries_ = std::move(entries);
  return B_OK;
}

const void* BResources::FindResource(type_code type, const char* name, size_t* size) const {
  for (const Entry& entry : entries_) {
    if (entry.type == type && name != nullptr && entry.name == name) {
      if (size != nullptr) *size = entry.data.size();
      return entry.data.data();
    }
  }
  return nullptr;
}

std::string BResources::Flatten(const std::vector<Entry>& entries) {
  std::string out(kMagic, sizeof kMagic);
  put_le(&out, kVersion, 4);
  put_le(&out, entries.size(), 4);
  for (const Entry& entry : entries) {
    put_le(&out, entry.type, 4);
    put_le(&out, uint32_t(entry.id), 4);
    put_le(&out, entry.name.size(), 2);
    out += entry.name;
    put_le(&out, entry.data.size(), 4);
    out += entry.data;
  }
  return out;
}
