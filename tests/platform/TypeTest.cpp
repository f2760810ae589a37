#include <algorithm>
#include <gtest/gtest.h>
#include <gio/gio.h>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>

#include "TempTree.h"
#include "platform/AsciiFold.h"
#include "platform/Entry.h"
#include "platform/File.h"
#include "platform/Message.h"
#include "platform/MimeType.h"
#include "platform/Node.h"
#include "platform/NodeInfo.h"
#include "platform/TextTypes.h"

namespace {

std::string type_of(const std::string& path) {
  BNode node(path.c_str());
  BNodeInfo info(&node);
  char type[B_MIME_TYPE_LENGTH];
  return info.GetType(type) == B_OK ? type : "(none)";
}

TEST(NodeInfoTest, TheTypeAttributeComesFirst) {
  TempTree tree;
  std::string path = tree.file("page.html", "<html>", "Text/X-Custom");
  EXPECT_EQ(type_of(path), "Text/X-Custom");
  char stored[64] = {};
  ASSERT_GT(getxattr(path.c_str(), "user.mime_type", stored, sizeof stored), 0);
  EXPECT_STREQ(stored, "Text/X-Custom");

  BNode node(path.c_str());
  BNodeInfo info(&node);
  ASSERT_EQ(info.SetType(nullptr), B_OK);
  EXPECT_EQ(type_of(path), "text/html");  // back to the name
  EXPECT_EQ(info.SetType(std::string(300, 'x').c_str()), B_BAD_VALUE);
  // An attribute too long for a type is not taken as one.
  std::string tooLong(300, 'y');
  ASSERT_EQ(setxattr(path.c_str(), "user.mime_type", tooLong.data(), tooLong.size(), 0), 0);
  EXPECT_EQ(type_of(path), "text/html");
}

TEST(NodeInfoTest, WithoutAnAttributeTheNameThenTheContentDecides) {
  TempTree tree;
  struct Case {
    const char* name;
    std::string content;
    const char* type;
  } cases[] = {
      {"notes.txt", "plain words", "text/plain"},
      {"page.html", "<p>", "text/html"},
      {"main.c", "int main;", "text/x-csrc"},
      {"no-extension", "just some words\n", "text/plain"},
      {"run-me", "#!/bin/sh\necho hi\n", "text/x-sh"},
      {"blob", std::string("\x7f\x01\x02\x03\x00\xff\xfe", 7), "(none)"},
  };
  for (const Case& c : cases) EXPECT_EQ(type_of(tree.file(c.name, c.content, "")), c.type) << c.name;
}

TEST(NodeInfoTest, ReadingTheTypeDoesNotMoveTheFilePosition) {
  TempTree tree;
  std::string path = tree.file("untyped", "some text content", "");
  BFile file(path.c_str(), B_READ_ONLY);
  BNodeInfo info(&file);
  char type[B_MIME_TYPE_LENGTH];
  ASSERT_EQ(info.GetType(type), B_OK);
  EXPECT_EQ(file.Position(), 0);
}

TEST(NodeInfoTest, PreferredAppIsSetReadAndRemoved) {
  TempTree tree;
  std::string path = tree.file("doc.txt", "x");
  BNode node(path.c_str());
  BNodeInfo info(&node);
  char signature[B_MIME_TYPE_LENGTH];
  EXPECT_EQ(info.GetPreferredApp(signature), B_ENTRY_NOT_FOUND);
  ASSERT_EQ(info.SetPreferredApp("application/x-vnd.TaRnWiCkLoFt"), B_OK);
  ASSERT_EQ(info.GetPreferredApp(signature), B_OK);
  EXPECT_STREQ(signature, "application/x-vnd.TaRnWiCkLoFt");
  ASSERT_EQ(info.SetPreferredApp(nullptr), B_OK);
  EXPECT_EQ(info.GetPreferredApp(signature), B_ENTRY_NOT_FOUND);
  EXPECT_EQ(info.SetPreferredApp(nullptr), B_OK);  // removing what is not there is fine
}

TEST(MimeTypeTest, ValidityAndComparisonIgnoringCase) {
  for (const char* valid : {"text", "text/plain", "application/x-vnd.TaRnWiCkLoFt", "a/b+c"})
    EXPECT_TRUE(BMimeType::IsValid(valid)) << valid;
  for (const char* invalid : {"", "/plain", "text/", "text/pl ain", "te(x)t/plain", "a/b/c",
                              "text/pl\xc3\xa4in"})
    EXPECT_FALSE(BMimeType::IsValid(invalid)) << invalid;
  EXPECT_FALSE(BMimeType::IsValid(std::string(B_MIME_TYPE_LENGTH, 'a').c_str()));

  EXPECT_TRUE(BMimeType("TEXT/Plain") == BMimeType("text/plain"));
  EXPECT_FALSE(BMimeType("text/plain") == BMimeType("text/html"));
  EXPECT_FALSE(BMimeType("") == BMimeType(""));
  EXPECT_FALSE(BMimeType("bad type") == "bad type");
  EXPECT_TRUE(BMimeType("text").IsSupertypeOnly());
}

TEST(MimeTypeTest, InstalledTextTypesAreTheDatabasesInAlphabeticalOrder) {
  BMessage message(four_cc("MIME"));
  ASSERT_EQ(BMimeType::GetInstalledTypes("text", &message), B_OK);
  type_code code;
  int32 count = 0;
  ASSERT_EQ(message.GetInfo("types", &code, &count), B_OK);
  EXPECT_EQ(code, B_STRING_TYPE);
  EXPECT_GT(count, 100);
  std::vector<std::string> types;
  const char* type;
  for (int32 i = 0; message.FindString("types", i, &type) == B_OK; ++i) types.push_back(type);
  EXPECT_TRUE(std::is_sorted(types.begin(), types.end()));
  EXPECT_EQ(std::adjacent_find(types.begin(), types.end()), types.end());
  for (const std::string& t : types) EXPECT_EQ(t.rfind("text/", 0), 0u) << t;
  auto html = std::find(types.begin(), types.end(), "text/html");
  ASSERT_NE(html, types.end());
  EXPECT_NE(std::find(types.begin(), types.end(), "text/htmlh"), types.end());
  EXPECT_NE(std::find(types.begin(), types.end(), "text/plain"), types.end());

  BMessage none;
  EXPECT_EQ(BMimeType::GetInstalledTypes("text/plain", &none), B_BAD_VALUE);
  EXPECT_EQ(BMimeType::GetInstalledTypes("nosuchsupertype", &none), B_ENTRY_NOT_FOUND);
  EXPECT_TRUE(none.IsEmpty());
}

}  // namespace

namespace {

TEST(TextTypesTest, TextualTypesAreListedAndComparedByTheirTextNames) {
  std::vector<std::string> types = installed_text_types();
  for (const char* name : {"text/plain", "text/html", "text/x-sh", "text/xml", "text/x-perl", "text/javascript",
                           "text/yaml", "text/x-sql", "text/json", "text/toml"})
    EXPECT_NE(std::find(types.begin(), types.end(), name), types.end()) << name;
  for (const char* binary : {"text/png", "text/gzip", "text/pdf", "text/x-executable", "text/zip"})
    EXPECT_EQ(std::find(types.begin(), types.end(), binary), types.end()) << binary;

  EXPECT_TRUE(BMimeType("text/x-sh") == BMimeType("text/x-sh"));
  EXPECT_TRUE(BMimeType("text/x-sh") == BMimeType("APPLICATION/X-SHELLSCRIPT"));
  EXPECT_TRUE(BMimeType("application/xml") == BMimeType("text/xml"));
  EXPECT_FALSE(BMimeType("text/x-sh") == BMimeType("text/x-perl"));
  EXPECT_EQ(text_name_of("image/png"), "image/png");
  EXPECT_EQ(text_name_of("application/pdf"), "application/pdf");
  EXPECT_EQ(text_name_of("application/x-yaml"), "text/yaml");
}

// The textual types are those GIO calls kinds of text/plain among the types it has registered,
// for the same database.
TEST(TextTypesTest, TheTextualTypesAreThoseGioFindsTextual) {
  std::vector<std::string> expected;
  GList* registered = g_content_types_get_registered();
  for (GList* item = registered; item != nullptr; item = item->next) {
    const char* type = static_cast<const char*>(item->data);
    if (g_content_type_is_a(type, "text/plain")) expected.push_back(text_name_of(type));
    else EXPECT_EQ(text_name_of(type), ascii::folded(type)) << type << " is not textual";
  }
  g_list_free_full(registered, g_free);
  std::sort(expected.begin(), expected.end());
  expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
  EXPECT_GT(expected.size(), 100u);
  EXPECT_EQ(text_type_names(), expected);
}

TEST(TextTypesTest, AStoredApplicationNameReadsAsTheTextName) {
  TempTree tree;
  std::string stored = tree.file("script", "echo", "text/x-sh");
  BNode node(stored.c_str());
  BNodeInfo info(&node);
  char type[B_MIME_TYPE_LENGTH];
  ASSERT_EQ(info.GetType(type), B_OK);
  EXPECT_STREQ(type, "text/x-sh");
}

}  // namespace

namespace {

std::string type_from_content(const std::string& path, const struct stat* as) {
  BEntry entry(path.c_str());
  BFile file;
  struct stat st;
  if (file.SetToRegular(&entry, &st) != B_OK) return "(unopened)";
  char type[B_MIME_TYPE_LENGTH];
  return BNodeInfo::GetTypeFromContent(file, as != nullptr ? *as : st, type) == B_OK ? type : "(none)";
}

std::string same_size(const std::string& head, size_t size) { return head + std::string(size - head.size(), ' '); }

// Where timestamps are coarse, a file rewritten within the same second keeps its size and
// times; a guess made from it then must not be served for the new content.
TEST(NodeInfoTest, AFileRewrittenInTheSameTickIsGuessedAfresh) {
  TempTree tree;
  std::string text = same_size("plain words in a file with no extension\n", 400);
  std::string pdf = same_size("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj\n<< >>\nendobj\n", 400);
  std::string path = tree.file("no-extension", text, "");
  struct stat first;
  ASSERT_EQ(stat(path.c_str(), &first), 0);
  EXPECT_EQ(type_from_content(path, &first), "text/plain");
  // The status a one-second file system shows after the rewrite: the one it had.
  tree.file("no-extension", pdf, "");
  EXPECT_EQ(type_from_content(path, &first), "application/pdf");
  tree.file("no-extension", text, "");
  EXPECT_EQ(type_from_content(path, &first), "text/plain");
}

// The same on a real file system with one-second timestamps, where one can be mounted.
TEST(NodeInfoTest, OnAOneSecondFileSystemARewriteIsSeen) {
  TempTree tree;
  std::string image = tree.path("ext4.img"), mount = tree.folder("mnt");
  std::string make = "truncate -s 8M '" + image + "' && mkfs.ext4 -q -I 128 '" + image + "' 2>/dev/null && mount -o loop '" +
                     image + "' '" + mount + "' 2>/dev/null";
  if (geteuid() != 0 || system(make.c_str()) != 0) GTEST_SKIP() << "no loop-mounted ext4 here (needs root)";
  std::string path = mount + "/no-extension";
  std::string text = same_size("plain words in a file with no extension\n", 400);
  std::string pdf = same_size("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj\n<< >>\nendobj\n", 400);
  // Tried until both writes fall within one second, so that the rewrite keeps the times.
  for (int attempt = 0; attempt < 5; ++attempt) {
    struct stat before, after;
    tree.file("mnt/no-extension", text, "");
    stat(path.c_str(), &before);
    std::string first = type_from_content(path, nullptr);
    tree.file("mnt/no-extension", pdf, "");
    stat(path.c_str(), &after);
    std::string second = type_from_content(path, nullptr);
    if (before.st_mtim.tv_sec != after.st_mtim.tv_sec || before.st_ctim.tv_sec != after.st_ctim.tv_sec) continue;
    system(("umount '" + mount + "'").c_str());
    EXPECT_EQ(after.st_mtim.tv_nsec, 0) << "the file system kept sub-second times";
    EXPECT_EQ(first, "text/plain");
    EXPECT_EQ(second, "application/pdf");
    return;
  }
  system(("umount '" + mount + "'").c_str());
  FAIL() << "no two writes within one second";
}

}  // namespace
