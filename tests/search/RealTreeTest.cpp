// The walk and the type lookup on real, untyped trees (the system's own /usr), against
// references written here from the plain steps: GIO's guesses as GIO gives them, and a walk
// that reads every file's type through an open node before it reads the content.
#include <algorithm>
#include <dirent.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "TempTree.h"
#include "platform/interface/MenuItem.h"
#include "platform/MimeType.h"
#include "platform/Node.h"
#include "platform/NodeInfo.h"
#include "platform/TextTypes.h"
#include "search/Search.h"
#include "ListSearch.h"

namespace {

// Regular files under the folders, in listing order, at most limit of them.
void regular_files(const std::string& folder, std::vector<std::string>* out, size_t limit) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    if (out->size() >= limit) break;
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string path = folder + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) regular_files(path, out, limit);
    else if (S_ISREG(st.st_mode) && access(path.c_str(), R_OK) == 0) out->push_back(path);
  }
  closedir(dir);
}

// A file's type from the plain steps: the attribute, GIO by name, GIO by name and head.
std::string reference_type(const std::string& path) {
  char stored[B_MIME_TYPE_LENGTH] = {};
  ssize_t got = getxattr(path.c_str(), "user.mime_type", stored, sizeof stored - 1);
  std::string type;
  if (got > 0) {
    type.assign(stored, strnlen(stored, size_t(got)));
  } else {
    std::string name = path.substr(path.rfind('/') + 1);
    gboolean uncertain;
    gchar* guess = g_content_type_guess(name.c_str(), nullptr, 0, &uncertain);
    if (uncertain) {
      g_free(guess);
      char head[4096];
      FILE* file = fopen(path.c_str(), "rb");
      size_t read = file ? fread(head, 1, sizeof head, file) : 0;
      if (file) fclose(file);
      guess = read > 0 ? g_content_type_guess(name.c_str(), reinterpret_cast<guchar*>(head), read, &uncertain)
                       : nullptr;
    }
    type = guess ? guess : "";
    g_free(guess);
    if (type == "application/octet-stream") type = "";
  }
  return type.empty() ? "(none)" : text_name_of(type.c_str());
}

// A file's type as the walk reads it: without opening when it can, from the head when not.
std::string walk_type(const std::string& path) {
  BEntry entry(path.c_str());
  char type[B_MIME_TYPE_LENGTH];
  status_t status = BNodeInfo::GetTypeWithoutContent(entry, type);
  if (status == B_TYPE_NEEDS_CONTENT) {
    BFile file;
    struct stat st;
    status = file.SetToRegular(&entry, &st) == B_OK ? BNodeInfo::GetTypeFromContent(file, st, type)
                                                     : B_ERROR;
  }
  return status == B_OK ? type : "(none)";
}

TEST(RealTreeTest, EveryTypeReadIsUnchangedOnTwentyThousandUntypedFiles) {
  std::vector<std::string> files;
  for (const char* root : {"/usr/share", "/usr/include", "/usr/lib"}) regular_files(root, &files, 30000);
  ASSERT_GE(files.size(), 20000u);
  size_t differ = 0, sniffed = 0;
  for (const std::string& path : files) {
    std::string expected = reference_type(path);
    BNode node(path.c_str());
    BNodeInfo info(&node);
    char type[B_MIME_TYPE_LENGTH];
    std::string read = info.GetType(type) == B_OK ? type : "(none)";
    std::string walked = walk_type(path);
    BEntry entry(path.c_str());
    sniffed += BNodeInfo::GetTypeWithoutContent(entry, type) == B_TYPE_NEEDS_CONTENT;
    if ((read != expected || walked != expected) && ++differ <= 10)
      ADD_FAILURE() << path << ": expected " << expected << ", GetType " << read << ", walk " << walked;
  }
  EXPECT_EQ(differ, 0u);
  EXPECT_GT(sniffed, 100u);  // the tree has files whose names leave the type open
}

class TypeList {
 public:
  explicit TypeList(const std::vector<std::string>& labels) {
    for (const std::string& label : labels) {
      items_.push_back(std::make_unique<BMenuItem>(label.c_str(), nullptr));
      list.AddItem(items_.back().get());
    }
  }
  std::vector<std::string> Labels() const {
    std::vector<std::string> labels;
    for (int32 i = 0; i < list.CountItems(); ++i) labels.push_back(static_cast<BMenuItem*>(list.ItemAt(i))->Label());
    return labels;
  }
  BList list;

 private:
  std::vector<std::unique_ptr<BMenuItem>> items_;
};

// The walk as first written: depth first in listing order, each regular file opened, its type
// read through the open node and filtered, then its content scanned.
void reference_walk(const std::string& folder, BList& types, BList& strings, std::vector<std::string>* out) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string path = folder + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      reference_walk(path, types, strings, out);
    } else if (S_ISREG(st.st_mode)) {
      BFile file(path.c_str(), B_READ_ONLY);
      BNodeInfo info(&file);
      char type[B_MIME_TYPE_LENGTH];
      if (file.InitCheck() == B_OK && info.GetType(type) == B_OK && f_check_MIME(type, types) &&
          f_seek(file, strings) == 1)
        out->push_back(path);
    }
  }
  closedir(dir);
}

std::vector<std::string> walk(const std::string& folder, BList& types, BList& strings) {
  BDirectory dir(folder.c_str());
  BList results;
  f_dirsearch_BMI(dir, types, results, strings);
  std::vector<std::string> paths;
  for (int32 i = 0; i < results.CountItems(); ++i) {
    auto* ref = static_cast<entry_ref*>(results.ItemAt(i));
    paths.push_back(ref->directory_path() + "/" + ref->name);
    delete ref;
  }
  return paths;
}

// Same matches in the same order, and the type list left in the same order, for several
// texts and type choices, on real folders with many untyped files of every kind.
TEST(RealTreeTest, TheWalkGivesWhatTheFirstWalkGave) {
  const std::vector<std::vector<std::string>> choices = real_tree_type_choices();
  ASSERT_FALSE(choices[0].empty());
  for (const char* folder : kRealFolders) {
    for (const auto& choice : choices) {
      for (std::string text : kRealTexts) {
        BList strings;
        strings.AddItem(text.data());
        TypeList mine(choice), theirs(choice);
        std::vector<std::string> expected;
        reference_walk(folder, theirs.list, strings, &expected);
        EXPECT_EQ(walk(folder, mine.list, strings), expected) << folder << " '" << text << "'";
        EXPECT_EQ(mine.Labels(), theirs.Labels()) << folder << " '" << text << "'";
      }
    }
  }
}

}  // namespace
