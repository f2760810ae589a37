#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "TempTree.h"
#include "platform/AsciiFold.h"
#include "platform/ContentHint.h"
#include "platform/File.h"
#include "platform/NodeInfo.h"

namespace {

// The first bytes of regular files under a folder, as many as asked, depth first.
void collect_heads(const std::string& folder, size_t want, std::vector<std::string>* heads) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    if (heads->size() >= want) break;
    std::string name = entry->d_name, path = folder + "/" + name;
    struct stat st;
    if (name == "." || name == ".." || lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      collect_heads(path, want, heads);
    } else if (S_ISREG(st.st_mode) && st.st_size > 0) {
      int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
      if (fd < 0) continue;
      std::string head(ContentTypeHint::kHeadSize, '\0');
      ssize_t got = pread(fd, head.data(), head.size(), 0);
      close(fd);
      if (got > 0) heads->push_back(head.substr(0, size_t(got)));
    }
  }
  closedir(dir);
}

std::vector<std::string> sample_heads() {
  std::vector<std::string> heads = {"<!DOCTYPE html>\n<html>", "<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\"/>",
                                    "#!/bin/sh\necho hi\n", "#!/usr/bin/env python3\nprint(1)\n", "%PDF-1.4\n%\xe2\xe3",
                                    "\x89PNG\r\n\x1a\n", "plain words < and > nothing more\n", "<html><body>x",
                                    "{\"json\": true}\n", "From someone@example.org Mon Jan  1\n"};
  for (const char* folder : {"/usr/share/doc", "/usr/share/mime", "/etc", "/usr/lib/x86_64-linux-gnu/perl-base", "/usr/bin"})
    collect_heads(folder, heads.size() + 1500, &heads);
  return heads;
}

// For every head, copied to a file whose name matches no pattern: the hint for the type the
// full guess gives never says no. And it does say no where it can: a text without markup is
// no HTML.
TEST(ContentHintTest, TheHintNeverRefusesWhatTheGuessAccepts) {
  TempTree tree;
  std::map<std::string, std::vector<size_t>> byType;  // the guessed type, folded: the heads
  std::vector<std::string> heads = sample_heads();
  ASSERT_GT(heads.size(), 1000u);
  for (size_t i = 0; i < heads.size(); ++i) {
    std::string path = tree.file("h" + std::to_string(i), heads[i], "");
    BFile file(path.c_str(), B_READ_ONLY);
    struct stat st;
    char type[B_MIME_TYPE_LENGTH];
    ASSERT_EQ(file.GetStat(&st), B_OK);
    if (BNodeInfo::GetTypeFromContent(file, st, type) == B_OK) byType[ascii::folded(type)].push_back(i);
  }
  EXPECT_GT(byType.size(), 10u);
  for (const auto& [type, indexes] : byType) {
    ContentTypeHint hint({type, "text/css"});
    for (size_t i : indexes)
      EXPECT_TRUE(hint.CouldBeOneOf(false, reinterpret_cast<const uint8_t*>(heads[i].data()), heads[i].size()))
          << type << ": " << heads[i].substr(0, 60);
  }
  ContentTypeHint html({"text/html", "text/css"});
  size_t refused = 0;
  for (size_t i : byType["text/plain"])
    refused += !html.CouldBeOneOf(false, reinterpret_cast<const uint8_t*>(heads[i].data()), heads[i].size());
  EXPECT_GT(refused, byType["text/plain"].size() * 9 / 10);
  // A name with a pattern, or text/plain asked about, leaves every head possible.
  const std::string& plain = heads[byType["text/plain"].front()];
  EXPECT_TRUE(html.CouldBeOneOf(true, reinterpret_cast<const uint8_t*>(plain.data()), plain.size()));
  EXPECT_TRUE(ContentTypeHint({"text/plain"}).CouldBeOneOf(false, reinterpret_cast<const uint8_t*>(plain.data()), 0));
  EXPECT_FALSE(ContentTypeHint({"text/css"}).NeedsHead());  // no rule of its own: never text/css by content
  EXPECT_TRUE(ContentTypeHint({"text/plain", "text/css"}).RefusesNothing());
  EXPECT_FALSE(html.RefusesNothing());
}

// Heads at the edges of GIO's content guess: no rule and text, a control character in the
// first 128 bytes or after them, DEL and backspace, a desktop entry (never taken from the head
// alone), and rules of high and low priority.
std::vector<std::string> edge_heads() {
  return {"just words\n", "\x01binary at once", std::string(130, 'a') + "\x01 control after 128",
          "tab\tand\r\nline ends\f and form feed\v", "delete \x7f here", "back\bspace", "form\ffeed\n", "\xc3\xa9t\xc3\xa9 in UTF-8",
          "\xff\xfe\x00h\x00i", "[Desktop Entry]\nType=Application\nExec=x\n", "#!/bin/sh\n", "#!/usr/bin/perl\n",
          "%PDF-1.7\n", "PK\x03\x04\x14\x00", "\x7f" "ELF\x02\x01\x01", "<?xml version=\"1.0\"?>\n<svg/>",
          "<html><body>", "GIF89a", "\x1f\x8b\x08", std::string(4096, '\0'), std::string(1, '\0')};
}

// A guess from the head made here gives GIO's type for every head, under a name that matches
// no pattern; a name that matches one gives its type, and one that matches several (GIO then
// weighs them against the head) is left to GIO.
TEST(ContentHintTest, AGuessFromTheHeadGivesGiosType) {
  TempTree tree;
  std::vector<std::string> heads = sample_heads(), edges = edge_heads();
  heads.insert(heads.end(), edges.begin(), edges.end());
  std::string paths;
  size_t leftToGio = 0;
  for (size_t i = 0; i < heads.size(); ++i) {
    paths += tree.file("h" + std::to_string(i), heads[i], "") + '\0';
    if (i % 50 != 0) continue;
    paths += tree.file("named/x" + std::to_string(i) + ".txt", heads[i], "") + '\0';  // one pattern
    paths += tree.file("named/libx" + std::to_string(i) + ".so.1", heads[i], "") + '\0';  // two patterns
    ++leftToGio;
  }
  std::string list = tree.file("paths", paths, ""), report = tree.path("report");
  int status = system((std::string(GUESS_PROBE) + " heads < '" + list + "' > '" + report + "'").c_str());
  std::string said = read_file(report);
  EXPECT_EQ(status, 0) << said.substr(0, 4000);
  EXPECT_NE(said.find(", answered by GIO " + std::to_string(leftToGio) + "\n"), std::string::npos) << said.substr(0, 4000);
}

bool every_type(const char*, const void*) { return true; }

// Truncated and bit-flipped copies of the system's cache: each is refused or read, and every
// head tried against it ends, never reading outside the bytes (the sanitized run checks).
TEST(ContentHintTest, DamagedCachesAreRefusedOrReadSafely) {
  std::string cache;
  {
    BFile file("/usr/share/mime/mime.cache", B_READ_ONLY);
    off_t size = 0;
    ASSERT_EQ(file.GetSize(&size), B_OK);
    cache.resize(size_t(size));
    ASSERT_EQ(file.ReadAt(0, cache.data(), cache.size()), ssize_t(cache.size()));
  }
  const std::string heads[] = {"<!DOCTYPE html>", std::string(4096, '<'), "\x7f" "ELF", ""};
  auto try_all = [&](std::string bytes) {
    auto rules = MagicRules::FromCache(std::make_shared<const std::string>(std::move(bytes)), every_type, nullptr);
    if (rules == nullptr) return false;
    for (const std::string& head : heads) rules->Match(reinterpret_cast<const uint8_t*>(head.data()), head.size());
    return true;
  };
  ASSERT_TRUE(try_all(cache));
  EXPECT_FALSE(try_all(""));
  EXPECT_FALSE(try_all(cache.substr(0, 39)));
  std::mt19937 random(7);
  for (int i = 0; i < 200; ++i) try_all(cache.substr(0, random() % cache.size()));
  for (int i = 0; i < 200; ++i) {
    std::string flipped = cache;
    for (int j = 0; j < 8; ++j) flipped[random() % flipped.size()] ^= char(1 << (random() % 8));
    try_all(std::move(flipped));
  }
}

}  // namespace
