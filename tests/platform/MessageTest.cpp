#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>
#include <string>

#include "TempTree.h"
#include "platform/Entry.h"
#include "platform/File.h"
#include "platform/Message.h"

namespace {

std::string flatten(const BMessage& message) {
  std::string bytes(size_t(message.FlattenedSize()), '\0');
  EXPECT_EQ(message.Flatten(bytes.data(), ssize_t(bytes.size())), B_OK);
  return bytes;
}

BMessage sample_message() {
  BMessage inner(four_cc("innr"));
  inner.AddString("leaf", "inside");
  BMessage message(four_cc("arch"));
  message.AddString("Name", "first");
  message.AddString("Name", "second, with \"quotes\"");
  message.AddBool("Flag", true);
  message.AddInt32("Count", -7);
  message.AddInt64("Big", int64(1) << 40);
  message.AddFloat("Ratio", 0.5f);
  message.AddDouble("Precise", 1.0 / 3);
  message.AddRect("Frame", BRect(10, 20, 310.5f, 220));
  message.AddPoint("Where", BPoint(-1, 2));
  entry_ref ref(3, 99, "a file");
  ref.set_directory_path("/some/folder");
  message.AddRef("refs", &ref);
  message.AddMessage("_views", &inner);
  message.AddData("Raw", B_RAW_TYPE, "\0\1\2", 3);
  return message;
}

TEST(MessageTest, EveryFieldTypeSurvivesFlattenAndUnflatten) {
  BMessage copy;
  std::string bytes = flatten(sample_message());
  ASSERT_EQ(copy.Unflatten(bytes.data(), ssize_t(bytes.size())), B_OK);
  EXPECT_EQ(copy.what, four_cc("arch"));

  const char* text;
  ASSERT_EQ(copy.FindString("Name", 1, &text), B_OK);
  EXPECT_STREQ(text, "second, with \"quotes\"");
  bool flag = false;
  int32 count = 0;
  int64 big = 0;
  float ratio = 0;
  double precise = 0;
  BRect frame;
  BPoint where;
  entry_ref ref;
  BMessage inner;
  EXPECT_EQ(copy.FindBool("Flag", &flag), B_OK);
  EXPECT_EQ(copy.FindInt32("Count", &count), B_OK);
  EXPECT_EQ(copy.FindInt64("Big", &big), B_OK);
  EXPECT_EQ(copy.FindFloat("Ratio", &ratio), B_OK);
  EXPECT_EQ(copy.FindDouble("Precise", &precise), B_OK);
  EXPECT_EQ(copy.FindRect("Frame", &frame), B_OK);
  EXPECT_EQ(copy.FindPoint("Where", &where), B_OK);
  EXPECT_EQ(copy.FindRef("refs", &ref), B_OK);
  EXPECT_EQ(copy.FindMessage("_views", &inner), B_OK);
  EXPECT_TRUE(flag);
  EXPECT_EQ(count, -7);
  EXPECT_EQ(big, int64(1) << 40);
  EXPECT_EQ(ratio, 0.5f);
  EXPECT_EQ(precise, 1.0 / 3);
  EXPECT_EQ(frame, BRect(10, 20, 310.5f, 220));
  EXPECT_EQ(where, BPoint(-1, 2));
  EXPECT_STREQ(ref.name, "a file");
  EXPECT_EQ(ref.directory_path(), "/some/folder");
  EXPECT_EQ(ref, entry_ref(3, 99, "a file"));
  EXPECT_EQ(inner.what, four_cc("innr"));
  const void* raw;
  ssize_t rawSize;
  ASSERT_EQ(copy.FindData("Raw", B_RAW_TYPE, &raw, &rawSize), B_OK);
  EXPECT_EQ(std::string(static_cast<const char*>(raw), size_t(rawSize)), std::string("\0\1\2", 3));
  EXPECT_EQ(flatten(copy), bytes);
}

TEST(MessageTest, FindFailsForMissingFieldsOtherTypesAndBadIndexes) {
  BMessage message = sample_message();
  int32 value = 42;
  const char* text = nullptr;
  EXPECT_EQ(message.FindInt32("Absent", &value), B_NAME_NOT_FOUND);
  EXPECT_EQ(message.FindInt32("Name", &value), B_BAD_TYPE);
  EXPECT_EQ(message.FindString("Name", 2, &text), B_BAD_INDEX);
  EXPECT_EQ(message.FindString("Name", -1, &text), B_BAD_INDEX);
  EXPECT_EQ(value, 42);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(message.AddInt32("Name", 1), B_BAD_TYPE);

  type_code type;
  int32 count;
  ASSERT_EQ(message.GetInfo("Name", &type, &count), B_OK);
  EXPECT_EQ(type, B_STRING_TYPE);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(message.GetInfo("Absent", &type, &count), B_NAME_NOT_FOUND);
  const char* name;
  ASSERT_EQ(message.GetInfo(B_INT32_TYPE, 0, &name, &type, &count), B_OK);
  EXPECT_STREQ(name, "Count");
}

TEST(MessageTest, MakeEmptyDropsAll) {
  BMessage message = sample_message();
  const char* text;
  message.MakeEmpty();
  EXPECT_TRUE(message.IsEmpty());
  EXPECT_EQ(message.FindString("Name", &text), B_NAME_NOT_FOUND);
}

TEST(MessageTest, PointerFieldsAreNeverWritten) {
  BMessage message(four_cc("ptrs"));
  int target;
  message.AddPointer("self", &target);
  message.AddInt32("kept", 1);
  void* found = nullptr;
  ASSERT_EQ(message.FindPointer("self", &found), B_OK);
  EXPECT_EQ(found, &target);
  std::string bytes = flatten(message);
  EXPECT_EQ(bytes.find("self"), std::string::npos);
  BMessage copy;
  ASSERT_EQ(copy.Unflatten(bytes.data(), ssize_t(bytes.size())), B_OK);
  EXPECT_FALSE(copy.HasField("self"));
  EXPECT_TRUE(copy.HasField("kept"));
}

// Offsets into the flattened form of a message with one int32 field named "n".
constexpr size_t kTotalSize = 8, kFieldCount = 16, kNameLength = 24, kValueCount = 27;

void put32(std::string* bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[offset + i] = char(value >> (8 * i));
}

TEST(MessageTest, DamagedBytesFailAndLeaveTheMessageEmpty) {
  BMessage one(four_cc("tiny"));
  one.AddInt32("n", 5);
  const std::string good = flatten(one);
  ASSERT_EQ(good.size(), 39u);

  std::vector<std::pair<const char*, std::string>> cases;
  for (size_t cut = 0; cut < good.size(); ++cut)
    cases.emplace_back("truncated", good.substr(0, cut));
  std::string bytes = good;
  bytes[0] = 'X';
  cases.emplace_back("bad magic", bytes);
  bytes = good;
  put32(&bytes, kTotalSize, 1u << 30);
  cases.emplace_back("size beyond the buffer", bytes);
  bytes = good;
  put32(&bytes, kFieldCount, 0xffffffff);
  cases.emplace_back("huge field count", bytes);
  bytes = good;
  put32(&bytes, kValueCount, 0x7fffffff);
  cases.emplace_back("huge value count", bytes);
  bytes = good;
  bytes[kNameLength] = 0;
  cases.emplace_back("empty name", bytes);
  bytes = good;
  put32(&bytes, kValueCount + 4, 3);
  cases.emplace_back("int32 of 3 bytes", bytes);

  BMessage text(four_cc("text"));
  text.AddString("s", "abc");
  bytes = flatten(text);
  bytes[bytes.size() - 1] = 'x';
  cases.emplace_back("string without terminator", bytes);

  BMessage twice(four_cc("dupl"));
  twice.AddInt32("n", 1);
  twice.AddInt32("m", 2);
  bytes = flatten(twice);
  bytes[bytes.find('m')] = 'n';
  cases.emplace_back("duplicate name", bytes);

  BMessage nested(four_cc("deep"));
  for (int depth = 0; depth < 100; ++depth) {
    BMessage outer(four_cc("deep"));
    outer.AddMessage("m", &nested);
    nested = outer;
  }
  cases.emplace_back("nested too deep", flatten(nested));

  for (const auto& [what, damaged] : cases) {
    BMessage message(four_cc("keep"));
    message.AddInt32("old", 1);
    EXPECT_NE(message.Unflatten(damaged.data(), ssize_t(damaged.size())), B_OK) << what;
    EXPECT_TRUE(message.IsEmpty()) << what;
  }
}

// Random damage to real messages: Unflatten either fails or gives a message that flattens to
// a form that reads back the same. Run under the sanitizers, this also catches over-reads.
TEST(MessageTest, RandomlyDamagedBytesNeverCrash) {
  const std::string good = flatten(sample_message());
  std::mt19937 random(12345);
  int accepted = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string bytes = good;
    int edits = 1 + int(random() % 4);
    for (int e = 0; e < edits; ++e) {
      size_t at = random() % bytes.size();
      switch (random() % 3) {
        case 0: bytes[at] = char(random()); break;
        case 1: bytes.erase(at, 1 + random() % 8); break;
        default: bytes.insert(at, 1 + random() % 8, char(random())); break;
      }
      if (bytes.empty()) bytes = "T";
    }
    BMessage message;
    if (message.Unflatten(bytes.data(), ssize_t(bytes.size())) != B_OK) continue;
    ++accepted;
    std::string again = flatten(message);
    BMessage reread;
    ASSERT_EQ(reread.Unflatten(again.data(), ssize_t(again.size())), B_OK);
    ASSERT_EQ(flatten(reread), again);
  }
  EXPECT_GT(accepted, 0);  // some edits only change values, and those must still read
}

TEST(MessageTest, UnflattenFromAFileReadsOneMessageAndRejectsShortFiles) {
  TempTree tree;
  std::string bytes = flatten(sample_message());
  std::string path = tree.file("saved", bytes + "trailing", "");
  BFile file(path.c_str(), B_READ_ONLY);
  BMessage message;
  ASSERT_EQ(message.Unflatten(&file), B_OK);
  EXPECT_EQ(flatten(message), bytes);

  // A header that claims more than the file holds must fail without allocating for it.
  std::string claimsMore = bytes;
  put32(&claimsMore, kTotalSize, 0xfffffff0);
  std::string lying = tree.file("lying", claimsMore, "");
  BFile lyingFile(lying.c_str(), B_READ_ONLY);
  EXPECT_EQ(message.Unflatten(&lyingFile), B_BAD_DATA);
  std::string shortPath = tree.file("short", bytes.substr(0, bytes.size() - 1), "");
  BFile shortFile(shortPath.c_str(), B_READ_ONLY);
  EXPECT_EQ(message.Unflatten(&shortFile), B_BAD_DATA);
  EXPECT_TRUE(message.IsEmpty());

  BFile out(tree.path("written").c_str(), B_WRITE_ONLY | B_CREATE_FILE | B_ERASE_FILE);
  ssize_t written = 0;
  ASSERT_EQ(sample_message().Flatten(&out, &written), B_OK);
  EXPECT_EQ(written, ssize_t(bytes.size()));
}

}  // namespace

namespace {

// Saved searches are files people pass around: a record with a great many fields must read
// in time that grows with its size. Looked up field by field, 400,000 fields took minutes.
TEST(MessageTest, AMessageWithVeryManyFieldsUnflattensInLinearTime) {
  BMessage many(four_cc("arch"));
  for (int i = 0; i < 400000; ++i) many.AddInt32(("f" + std::to_string(i)).c_str(), i);
  std::string bytes(size_t(many.FlattenedSize()), '\0');
  ASSERT_EQ(many.Flatten(bytes.data(), ssize_t(bytes.size())), B_OK);
  auto start = std::chrono::steady_clock::now();
  BMessage back;
  ASSERT_EQ(back.Unflatten(bytes.data(), ssize_t(bytes.size())), B_OK);
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 10.0);  // well under a second when linear
  int32 value = -1;
  EXPECT_EQ(back.FindInt32("f399999", &value), B_OK);
  EXPECT_EQ(value, 399999);
  EXPECT_EQ(back.RemoveName("f0"), B_OK);
  EXPECT_EQ(back.FindInt32("f1", &value), B_OK);
  EXPECT_EQ(value, 1);
  EXPECT_FALSE(back.HasField("f0"));
}

}  // namespace

namespace {

// Reads the file at path in a fresh process whose address space may grow by at most `room`
// bytes: the read's status, negated, or 100 + the signal that ended it.
int read_with_room(const std::string& path, size_t room, int levels) {
  std::string command = std::string(READ_WITH_ROOM) + " '" + path + "' " + std::to_string(room) + " " +
                        std::to_string(levels);
  int status = system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// A record of 63 nested messages around a large value reads within a few times its size,
// and a record too large for the memory left fails cleanly instead of ending the program.
TEST(MessageTest, NestedRecordsReadInAFewTimesTheirSizeAndTooLargeOnesFailCleanly) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an address-space limit leaves AddressSanitizer no room for its shadow memory";
#endif
  TempTree tree;
  constexpr size_t kPayload = 4 << 20;
  constexpr int kLevels = 63;
  BMessage nested(four_cc("deep"));
  nested.AddString("payload", std::string(kPayload, 'p').c_str());
  for (int level = 0; level < kLevels; ++level) {
    BMessage outer(four_cc("deep"));
    outer.AddMessage("inner", &nested);
    nested = outer;
  }
  std::string path = tree.file("deep", flatten(nested), "");
  nested.MakeEmpty();
  EXPECT_EQ(read_with_room(path, 12 * kPayload, kLevels), 0);
  EXPECT_EQ(read_with_room(path, kPayload / 2, 0), -B_NO_MEMORY);
}

}  // namespace
