#include <cctype>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/wait.h>

#include "TempTree.h"
#include "platform/NamePatterns.h"

namespace {

// Every name under a folder, and each in upper case and with its first letter capitalised.
void add_names_under(const std::string& folder, std::set<std::string>* names) {
  namespace fs = std::filesystem;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error), end;
       it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    std::string upper = name;
    for (char& c : upper) c = char(toupper(static_cast<unsigned char>(c)));
    names->insert(name);
    names->insert(upper);
    names->insert(char(toupper(static_cast<unsigned char>(name[0]))) + name.substr(1));
  }
}

// Names at the edges of the patterns: bytes past ASCII where a suffix is matched, suffixes
// only, dots, brackets and stars, case-sensitive patterns in either case, long names.
const char* const kEdgeNames[] = {
    "é.txt", "x\xff.c", "\xc3\xa9", "naïve.TXT", ".c", "c", ".", "..x", "a.", ".bashrc", "Makefile",
    "makefile", "MAKEFILE", "GNUmakefile", "makefile.am", "Makefile.in", "README", "readme.md", "ReadMe",
    "x.C", "x.c", "x.cc", "x.H", "x.h", "foo.tar.gz", "FOO.TAR.GZ", "x.tar.GZ", "libx.so.1", "libx.so.1.2",
    "x.1", "x.9", "x.anim1", "123.vdr", "x[1].c", "*.c", "x*", "core", "Core", "x.desktop", "x.PDF",
    "x.pdf.txt", "x.txt.pdf", "CMakeLists.txt", "x.in", "x.sql", "SConstruct", "sconscript.x", "x.m4",
    "x.tar.bz2", "x.7z", "x.JPG", "x.Jpg", "x.mo", "x.po", "x.pot", "x.ts", "x.d", "x.D", "x.s", "x.S",
    "x.t", "x.T", "x.f", "x.F", "x.f90", "x.l", "x.y", "x.ml", "x.mli", "x.v", "x.vhd", "x.xml", "x.XML"};

std::string long_name() { return std::string(240, 'a') + ".c"; }

// Names where the steps meet: a literal, a pattern or a case-sensitive suffix, with endings
// that another step also matches ("makefile.c" is C source by its suffix and a makefile by a
// pattern, so GIO calls it uncertain).
void add_crossed_names(std::set<std::string>* names) {
  for (const char* stem : {"makefile", "Makefile", "README", "readme", "ReadMe", "sconscript", "SConscript", "core",
                           "CMakeLists", "meson", "123", "x.anim", "libx.so", "x", "X", "Changelog"})
    for (const char* ending : {"", ".c", ".C", ".txt", ".TXT", ".1", ".so.1", ".gz", ".tar.gz", ".in", ".am", ".vdr",
                               "~", ".bak", ".h", ".H", ".cc", ".7"})
      names->insert(std::string(stem) + ending);
}

// Runs the probe on the names in this process's environment; its report.
std::string probe(const std::set<std::string>& names, int* status) {
  TempTree scratch;
  std::string input;
  for (const std::string& name : names) input += name + '\0';
  std::string list = scratch.file("names", input, "");
  std::string report = scratch.path("report");
  *status = system((std::string(GUESS_PROBE) + " names < '" + list + "' > '" + report + "'").c_str());
  return read_file(report);
}

}  // namespace

// Every name of /usr, changed in case and at the patterns' edges, is given the type GIO gives
// it by name, as certain or uncertain as GIO says it is.
TEST(NamePatternsTest, EveryNameGetsTheTypeGioGivesIt) {
  TempHome home;
  std::set<std::string> names(std::begin(kEdgeNames), std::end(kEdgeNames));
  names.insert(long_name());
  add_crossed_names(&names);
  add_names_under("/usr", &names);
  ASSERT_GT(names.size(), 50000u);
  int status;
  std::string report = probe(names, &status);
  EXPECT_EQ(status, 0) << report.substr(0, 4000);
  EXPECT_NE(report.find("checked " + std::to_string(names.size()) + ", answered by GIO 0"), std::string::npos) << report.substr(0, 4000);
}

// With the user's own database and another folder's before the system's: a literal, a suffix
// and a pattern of an earlier folder decide over the system's, case-sensitive ones only in
// their own case, and a weight orders what one folder gives.
TEST(NamePatternsTest, EarlierFoldersDecideAsGiosReaderDecides) {
  TempHome home;
  auto package = [&](const std::string& folder, const std::string& types) {
    home.tree().file(folder + "/mime/packages/own.xml",
                     "<?xml version=\"1.0\"?>\n<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n" +
                         types + "</mime-info>\n",
                     "");
    ASSERT_EQ(system(("update-mime-database '" + home.tree().path(folder + "/mime") + "' 2>/dev/null").c_str()), 0);
  };
  package(".local/share",
          "<mime-type type=\"text/x-own-c\"><glob pattern=\"*.c\"/><glob pattern=\"Kconfig\"/></mime-type>\n"
          "<mime-type type=\"text/x-own-upper\"><glob pattern=\"*.OWN\" case-sensitive=\"true\"/>"
          "<glob pattern=\"notes-*\" weight=\"80\"/></mime-type>\n"
          "<mime-type type=\"text/x-own-low\"><glob pattern=\"notes-*\" weight=\"20\"/></mime-type>\n");
  package("system",
          "<mime-type type=\"text/x-system-c\"><glob pattern=\"*.c\"/><glob pattern=\"*.h\"/></mime-type>\n"
          "<mime-type type=\"text/x-system-lit\"><glob pattern=\"Kconfig\"/><glob pattern=\"*.own\"/></mime-type>\n");
  std::set<std::string> names(std::begin(kEdgeNames), std::end(kEdgeNames));
  for (const char* name : {"x.c", "X.C", "x.h", "Kconfig", "kconfig", "x.OWN", "x.own", "x.Own", "notes-1",
                           "NOTES-1", "notes-1.c", "x.txt"})
    names.insert(name);
  add_crossed_names(&names);
  int status;
  std::string report = probe(names, &status);
  EXPECT_EQ(status, 0) << report;
  EXPECT_NE(report.find("checked " + std::to_string(names.size()) + ", answered by GIO 0"), std::string::npos) << report;
}

// A database that changes under a running program is read again within seconds, as GIO reads
// it again: a pattern installed meanwhile types the name.
TEST(NamePatternsTest, ANewPatternIsSeenWithinSeconds) {
  TempHome home;
  const std::string name = "notes.tarnwickloft-own";
  FILE* probe = popen((std::string(GUESS_PROBE) + " watch " + name + " 6").c_str(), "r");
  ASSERT_NE(probe, nullptr);
  char line[256] = "";
  ASSERT_NE(fgets(line, sizeof line, probe), nullptr);
  EXPECT_STREQ(line, "application/octet-stream\n");
  home.tree().file(".local/share/mime/packages/own.xml",
                   "<?xml version=\"1.0\"?>\n<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                   "<mime-type type=\"text/x-tarnwickloft-own\"><glob pattern=\"*.tarnwickloft-own\"/></mime-type>\n"
                   "</mime-info>\n",
                   "");
  ASSERT_EQ(system(("update-mime-database '" + home.tree().path(".local/share/mime") + "' 2>/dev/null").c_str()), 0);
  ASSERT_NE(fgets(line, sizeof line, probe), nullptr);
  EXPECT_STREQ(line, "text/x-tarnwickloft-own\n");
  pclose(probe);
}

// Damaged caches: a header this reader does not know is refused (GIO is asked instead), and
// lists that point outside the bytes leave the answer unknown rather than read past them.
TEST(NamePatternsTest, DamagedCachesAreRefusedOrAnswerUnknown) {
  auto cache = [](std::string bytes) { return std::make_shared<const std::string>(std::move(bytes)); };
  std::string header("\0\1\0\2", 4);
  EXPECT_EQ(NamePatterns::FromCaches({cache("\0\2\0\0" + std::string(60, '\0'))}), nullptr);
  EXPECT_EQ(NamePatterns::FromCaches({cache(header)}), nullptr);
  // Every list's offset past the end.
  std::string pastEnd = header + std::string(36, '\xff');
  auto patterns = NamePatterns::FromCaches({cache(pastEnd)});
  ASSERT_NE(patterns, nullptr);
  const char* types[NamePatterns::kMostTypes];
  EXPECT_EQ(patterns->TypesOf("x.c", types), -1);
  // Empty lists: no pattern, no type.
  std::string empty = header + std::string(36, '\0');
  for (size_t at = 4; at < 40; at += 4) empty[at + 3] = char(40);  // every list at offset 40: a count of 0
  empty += std::string(8, '\0');
  patterns = NamePatterns::FromCaches({cache(empty)});
  ASSERT_NE(patterns, nullptr);
  EXPECT_EQ(patterns->TypesOf("x.c", types), 0);
}
