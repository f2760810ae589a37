// The saved type order after a search, against the type filter applied step by step, file by
// file in walk order, on random trees.
#include <QTest>
#include <dirent.h>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "TempTree.h"
#include "WindowFixture.h"
#include "platform/AsciiFold.h"
#include "platform/File.h"
#include "platform/NodeInfo.h"
#include "platform/interface/Controls.h"
#include "platform/interface/ListView.h"
#include "platform/interface/MenuItem.h"
#include "search/Search.h"
#include "window/Commands.h"
#include "window/TarnWin.h"

namespace {

// The filter as first written: the first label equal to the type ignoring case; the labels
// before it move, in their order, to the end.
bool check_type(const char* type, std::vector<std::string>& labels) {
  for (size_t i = 0; i < labels.size(); ++i) {
    if (ascii::casecmp(type, labels[i].c_str()) != 0) continue;
    std::vector<std::string> before(labels.begin(), labels.begin() + long(i));
    labels.erase(labels.begin(), labels.begin() + long(i));
    labels.insert(labels.end(), before.begin(), before.end());
    return true;
  }
  return false;
}

// The walk as first written: depth first in listing order, every regular file typed (its
// attribute, else its name, else its content) and filtered, then scanned.
void reference_walk(const std::string& folder, std::vector<std::string>& labels, BList& strings,
                    std::vector<std::string>* names) {
  DIR* dir = opendir(folder.c_str());
  ASSERT_NE(dir, nullptr);
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name, path = folder + "/" + name;
    struct stat st;
    if (name == "." || name == ".." || lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      reference_walk(path, labels, strings, names);
      continue;
    }
    BFile file(path.c_str(), B_READ_ONLY);
    BNodeInfo info(&file);
    char type[B_MIME_TYPE_LENGTH];
    if (file.InitCheck() == B_OK && info.GetType(type) == B_OK && check_type(type, labels) &&
        f_seek(file, strings) == 1)
      names->push_back(name);
  }
  closedir(dir);
}

// Files whose type comes from an attribute, a name or only their content, some holding the
// text; attributes name types in any case.
void make_random_tree(const TempTree& tree, std::mt19937& random, std::vector<std::string>* untyped) {
  const char* contents[] = {"<!DOCTYPE html>\n<html><body>%</body></html>\n", "#!/bin/sh\necho %\n",
                            "plain words and %\n", "body { color: red; } /* % */\n", "int main() { return 0; } // %\n"};
  const char* extensions[] = {".html", ".sh", ".txt", ".css", ".c", ""};
  const char* attributes[] = {"text/html", "TEXT/HTML", "text/plain", "text/css", "text/x-csrc", "Text/Plain"};
  int files = 8 + int(random() % 16);
  for (int i = 0; i < files; ++i) {
    std::string folder = std::string(1, char('a' + random() % 3)) + (random() % 2 ? "/" + std::string(1, char('p' + random() % 2)) : "");
    std::string content = contents[random() % 5];
    content.replace(content.find('%'), 1, random() % 3 ? "nothing" : "xylophone");
    std::string type = random() % 4 == 0 ? attributes[random() % 6] : "";
    std::string name = "f" + std::to_string(i) + (type.empty() ? extensions[random() % 6] : "");
    tree.file(folder + "/" + name, content, type);
    if (type.empty() && name.find('.') == std::string::npos) untyped->push_back(tree.path(folder + "/" + name));
  }
}

class TypeOrderTest : public WindowsTest {};

std::vector<std::string> saved_types(TarnWin* window) {
  BMessage record;
  window->SaveState(&record);
  std::vector<std::string> types;
  const char* type;
  for (int32 i = 0; record.FindString("Types", i, &type) == B_OK; ++i) types.push_back(type);
  return types;
}

std::vector<std::string> listed(TarnWin* window) {
  auto* list = static_cast<BListView*>(window->FindView("LV_Matches"));
  std::vector<std::string> names;
  for (int32 i = 0; i < list->CountItems(); ++i) names.push_back(static_cast<BStringItem*>(list->ItemAt(i))->Text());
  return names;
}

// Types chosen twice or in two cases, one to six of them in random orders; the files the
// search could only type by their content are rewritten or removed after it, before Save.
TEST_F(TypeOrderTest, TheSavedOrderIsTheFiltersStepByStep) {
  const char* pool[] = {"text/html", "TEXT/HTML", "text/plain", "text/css", "text/x-csrc", "text/x-sh"};
  auto* window = Build<TarnWin>();
  for (unsigned seed = 1; seed <= 300; ++seed) {
    std::mt19937 random(seed);
    TempTree tree;
    std::vector<std::string> untyped;
    make_random_tree(tree, random, &untyped);
    std::vector<std::string> chosen;
    for (int n = 1 + int(random() % 6); n > 0; --n) chosen.push_back(pool[random() % 6]);
    window->markMimes(false);
    window->markSavedMimes(chosen);
    std::vector<std::string> expected = saved_types(window);
    BList strings;
    std::string text = "XYLOPHONE";
    strings.AddItem(text.data());
    std::vector<std::string> names;
    reference_walk(tree.root(), expected, strings, &names);

    static_cast<BTextControl*>(window->FindView("TC_SearchDir"))->SetText(tree.root().c_str());
    static_cast<BTextControl*>(window->FindView("TC_SearchFor"))->SetText(text.c_str());
    window->PostMessage(command::kSearch);
    drain();
    ASSERT_FALSE(window->IsSearching());
    for (size_t i = 0; i < untyped.size(); ++i) {
      if (i % 2) unlink(untyped[i].c_str());
      else tree.file(untyped[i].substr(tree.root().size() + 1), "<!DOCTYPE html>\n<html></html>\n", "");
    }
    EXPECT_EQ(saved_types(window), expected) << "seed " << seed << "\n" << tree.Listing();
    EXPECT_EQ(listed(window), names) << "seed " << seed;
  }
}

}  // namespace
