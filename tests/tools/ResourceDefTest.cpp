#include <gtest/gtest.h>

#include "platform/Message.h"
#include "tools/ResourceDef.h"

namespace {

TEST(ResourceDefTest, ReadsTypedFieldsNestedMessagesAndResources) {
  const char* text = R"(
    # a comment
    resource 'TEST' 3 "sample" = message 'what' {
      string "s" = "one", "t\"wo"
      int32 "code" = 'srcb', 0x1214, -5
      float "f" = 10.5, -1
      rect "r" = (1, 2, 3.5, 4)
      point "p" = (7, 8)
      color "c" = (1, 2, 3, 255)
      bool "b" = true
      message "m" = 24
      message "m" = 'innr' { string "x" = "y" }
      flat "raw" = 'srcs'
    }
    resource 'MIMS' 1 "sig" = string "a/b"
    resource 'APPF' 1 "flags" = int32 1
  )";
  std::vector<BResources::Entry> entries;
  std::string error;
  ASSERT_TRUE(parse_resource_definitions(text, &entries, &error)) << error;
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].type, four_cc("TEST"));
  EXPECT_EQ(entries[0].id, 3);
  EXPECT_EQ(entries[1].data, std::string("a/b\0", 4));
  EXPECT_EQ(entries[2].data, std::string("\1\0\0\0", 4));

  BMessage message;
  ASSERT_EQ(message.Unflatten(entries[0].data.data(), ssize_t(entries[0].data.size())), B_OK);
  EXPECT_EQ(message.what, four_cc("what"));
  const char* s;
  message.FindString("s", 1, &s);
  EXPECT_STREQ(s, "t\"wo");
  int32 code;
  message.FindInt32("code", 0, &code);
  EXPECT_EQ(uint32(code), four_cc("srcb"));
  message.FindInt32("code", 1, &code);
  EXPECT_EQ(code, 0x1214);
  message.FindInt32("code", 2, &code);
  EXPECT_EQ(code, -5);
  float f;
  message.FindFloat("f", 0, &f);
  EXPECT_EQ(f, 10.5f);
  BRect r;
  message.FindRect("r", &r);
  EXPECT_EQ(r, BRect(1, 2, 3.5, 4));
  message.FindInt32("c", &code);
  EXPECT_EQ(uint32(code), 0x010203ffu);
  BMessage inner;
  message.FindMessage("m", 0, &inner);
  EXPECT_EQ(inner.what, 24u);
  message.FindMessage("m", 1, &inner);
  EXPECT_TRUE(inner.HasField("x"));
  const void* raw;
  ssize_t size;
  ASSERT_EQ(message.FindData("raw", B_RAW_TYPE, &raw, &size), B_OK);
  ASSERT_EQ(inner.Unflatten(static_cast<const char*>(raw), size), B_OK);
  EXPECT_EQ(inner.what, four_cc("srcs"));
}

TEST(ResourceDefTest, MistakesAreReportedWithTheirLine) {
  struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"resource 'A' 1 \"x\" = int32 1", "line 1: a code has four characters"},
      {"resource 'ABCD' 1 \"x\" =\n message 'MSGG' {\n  widget \"w\" = 1 }", "line 3: unknown field type 'widget'"},
      {"resource 'ABCD' 1 \"x\" = message 'MSGG' {\n int32 \"n\" = 1\n string \"n\" = \"s\" }", "line 3: field of two types"},
      {"resource 'ABCD' 1 \"x\" = message 'MSGG' {", "line 1: unclosed message"},
      {"thing", "line 1: expected 'resource'"},
  };
  for (const auto& c : cases) {
    std::vector<BResources::Entry> entries;
    std::string error;
    EXPECT_FALSE(parse_resource_definitions(c.text, &entries, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

}  // namespace
