// The application and its helpers, run as real processes with a temporary home.
#include <chrono>
#include <csignal>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <glib.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

#include "TempTree.h"
#include "platform/AppDefs.h"
#include "platform/AppFileInfo.h"
#include "platform/File.h"
#include "platform/Entry.h"
#include "platform/Message.h"
#include "platform/Node.h"
#include "platform/NodeInfo.h"
#include "platform/Resources.h"
#include "platform/Roster.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// A process started with its standard output on a pipe.
struct Child {
  pid_t pid = -1;
  int out = -1;
  std::string output;

  // Reads until the output holds text, or the child closes it, or time runs out.
  bool ReadUntil(const std::string& text, int seconds = 20) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (output.find(text) == std::string::npos) {
      pollfd ready{out, POLLIN, 0};
      if (std::chrono::steady_clock::now() > end || poll(&ready, 1, 100) < 0) return false;
      if (!(ready.revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      ssize_t got = read(out, buffer, sizeof buffer);
      if (got <= 0) return output.find(text) != std::string::npos;
      output.append(buffer, size_t(got));
    }
    return true;
  }
  // Reads the output to its end and waits for the child to exit.
  int Wait() {
    ReadUntil(std::string(1, '\0'), 20);  // the output never holds a NUL: read until it closes
    int status = -1;
    waitpid(pid, &status, 0);
    close(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  Child Start(const std::vector<std::string>& argv) {
    Child child;
    int pipeFds[2];
    EXPECT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&child.pid, args[0], &actions, nullptr, args.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    child.out = pipeFds[0];
    return child;
  }
  std::string Registered(const char* relative) { return read_file(home.home() + "/.local/share/" + relative); }

  TempHome home;
  TempTree tree;
};

const char kStartUp[] =
    "Constructor Start\nPre lBf.SetTo()\nPre lBafi = new\nPre lBafi-SetAppFlags\n"
    "Pre delete lBafi\nPre re-hydrate TarnWin\nPre IF aTwRehydrated and lock stuff."
    "Pre res.SetTo\nPre res.FindResource\nPre lBmTemp.Unflatten\nPre new TarnWin\n"
    "Pre aTwRehydrated->Show()\n";

TEST_F(AppTest, StartUpPrintsItsLinesInOrderRegistersAndQuitsWhenAsked) {
  // Nautilus is installed here, Nemo was once (its script is left from then), Caja never.
  std::string bin = tree.folder("bin");
  tree.file("bin/nautilus", "#!/bin/sh\n", "");
  chmod((bin + "/nautilus").c_str(), 0755);
  std::string oldNemo = home.home() + "/.local/share/nemo/scripts/Search here with Tarnwickloft";
  tree.file("stale", "#!/bin/sh\n# Written by Tarnwickloft's registration.\nexit 0\n", "");
  fs::create_directories(fs::path(oldNemo).parent_path());
  fs::copy_file(tree.path("stale"), oldNemo);
  // A PATH of the test's own, whatever file managers this machine has: the fake Nautilus and
  // only the desktop's database tools the program runs.
  for (const char* tool : {"update-desktop-database", "update-mime-database"}) {
    gchar* found = g_find_program_in_path(tool);
    if (found != nullptr) fs::create_symlink(found, bin + "/" + tool);
    g_free(found);
  }
  std::string path = getenv("PATH");
  setenv("PATH", bin.c_str(), 1);
  Child app = Start({TARNWICKLOFT_APP});
  setenv("PATH", path.c_str(), 1);
  ASSERT_TRUE(app.ReadUntil("Show()\n")) << app.output;
  // A save past the file-size limit must fail as an error, not end the program.
  std::string status = read_file("/proc/" + std::to_string(app.pid) + "/status");
  size_t ignored = status.find("SigIgn:\t");
  ASSERT_NE(ignored, std::string::npos);
  EXPECT_TRUE(std::stoull(status.substr(ignored + 8, 16), nullptr, 16) & (1ull << (SIGXFSZ - 1))) << status;
  kill(app.pid, SIGTERM);  // a quit request from the desktop
  EXPECT_EQ(app.Wait(), 0);
  EXPECT_EQ(app.output, kStartUp);

  std::string entry = Registered("applications/org.tarnwickloft.Tarnwickloft.desktop");
  EXPECT_NE(entry.find("\nTryExec=" TARNWICKLOFT_APP "\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nExec="), std::string::npos);
  EXPECT_NE(entry.find(" %F\n"), std::string::npos);
  // Only its own type makes it a candidate opener; the rest is recorded for reference.
  EXPECT_NE(entry.find("\nMimeType=message/x-Tarnwickloft;\n"), std::string::npos) << entry;
  for (const char* type : {"text/plain;", "text/html;", "message/x-Tarnwickloft;", "inode/directory;"})
    EXPECT_NE(entry.find(type, entry.find("\nX-Tarnwickloft-SupportedTypes=")), std::string::npos) << type;
  std::string package = Registered("mime/packages/org.tarnwickloft.Tarnwickloft.xml");
  EXPECT_NE(package.find("type=\"message/x-Tarnwickloft\""), std::string::npos) << package;
  EXPECT_NE(package.find("value=\"TWKM\""), std::string::npos);
  std::string script = home.home() + "/.local/share/nautilus/scripts/Search here with Tarnwickloft";
  EXPECT_EQ(access(script.c_str(), X_OK), 0);
  EXPECT_NE(read_file(script).find("tarnwickloft-filemanager'\n"), std::string::npos) << read_file(script);
  EXPECT_NE(read_file(script).find("exec \"$host\" \"$PWD\" \"$@\""), std::string::npos) << read_file(script);
  EXPECT_FALSE(fs::exists(oldNemo));  // Nemo has gone
  EXPECT_FALSE(fs::exists(home.home() + "/.config/caja/scripts/Search here with Tarnwickloft"));

  // A second start rewrites nothing.
  struct stat before, after;
  std::string entryPath = home.home() + "/.local/share/applications/org.tarnwickloft.Tarnwickloft.desktop";
  ASSERT_EQ(stat(entryPath.c_str(), &before), 0);
  Child again = Start({TARNWICKLOFT_APP});
  ASSERT_TRUE(again.ReadUntil("Show()\n"));
  kill(again.pid, SIGTERM);
  EXPECT_EQ(again.Wait(), 0);
  ASSERT_EQ(stat(entryPath.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);

  // A saved search that lost its type attribute is known by its content.
  std::string untyped = tree.file("lost its type", "TWKM\x01\x00\x00\x00 rest", "");
  Child typeOf = Start({TARNWICKLOFT_FIND, "--type-of", untyped});
  typeOf.Wait();
  EXPECT_EQ(typeOf.output, untyped + ": message/x-Tarnwickloft\n");
}

// What a freshly started GIO names as the default application for a type.
std::string default_app(const std::string& type) {
  std::string out = std::string(getenv("HOME")) + "/gio-mime";
  std::string command = "gio mime '" + type + "' > '" + out + "' 2>&1";
  EXPECT_EQ(system(command.c_str()), 0);
  std::string answer = read_file(out);
  answer = answer.substr(0, answer.find('\n'));
  size_t colon = answer.rfind(": ");
  return colon == std::string::npos ? answer : answer.substr(colon + 2);
}

// In a fresh profile with an editor and a file manager installed with the system and no
// mimeapps.list, starting the program leaves them the defaults for text files and folders.
TEST_F(AppTest, StartingNeverMakesItTheDefaultForTextFilesOrFolders) {
  add_recorder(home.tree(), "editor", "text/plain;text/x-csrc;");
  add_recorder(home.tree(), "files", "inode/directory;");
  Child app = Start({TARNWICKLOFT_APP});
  ASSERT_TRUE(app.ReadUntil("Show()\n")) << app.output;
  kill(app.pid, SIGTERM);
  EXPECT_EQ(app.Wait(), 0);
  ASSERT_FALSE(Registered("applications/org.tarnwickloft.Tarnwickloft.desktop").empty());
  EXPECT_EQ(default_app("text/plain"), "editor.desktop");
  EXPECT_EQ(default_app("text/x-csrc"), "editor.desktop");
  EXPECT_EQ(default_app("inode/directory"), "files.desktop");
  EXPECT_EQ(default_app("message/x-Tarnwickloft"), "org.tarnwickloft.Tarnwickloft.desktop");
}

// Registration writes paths by the rules of each format, and registers nothing for an
// executable whose path cannot be written safely.
TEST_F(AppTest, RegistrationQuotesPathsAndRefusesOnesThatCannotBeWritten) {
  const char* signature = "application/x-vnd.Odd-Path";
  auto register_copy = [&](const std::string& folder) {
    std::string copy = tree.folder(folder) + "/odd";
    std::filesystem::copy_file("/bin/true", copy);
    BFile file(copy.c_str(), B_READ_ONLY);
    BAppFileInfo registration(&file);
    BMessage types(four_cc("MIME"));
    types.AddString("types", "text");
    registration.SetSupportedTypes(&types);
    return std::make_pair(copy, registration.SetSignature(signature));
  };
  auto [odd, status] = register_copy("it's a \\ \"folder\" $HOME %f");
  EXPECT_EQ(status, B_OK);
  std::string executable;
  ASSERT_EQ(be_roster->FindApp(signature, &executable), B_OK);
  EXPECT_EQ(executable, odd);
  std::string entry = read_file(BAppFileInfo::DesktopEntryPath(signature));
  EXPECT_NE(entry.find("\nExec=\"" + tree.root() + "/it's a \\\\\\\\ \\\\\"folder\\\\\" \\\\$HOME %%f/odd\"\n"),
            std::string::npos) << entry;

  unlink(BAppFileInfo::DesktopEntryPath(signature).c_str());
  auto [injected, refused] = register_copy("new\nline");
  EXPECT_EQ(refused, B_BAD_VALUE);
  EXPECT_NE(access(BAppFileInfo::DesktopEntryPath(signature).c_str(), F_OK), 0);
  EXPECT_NE(be_roster->FindApp(signature, &executable), B_OK);
}

// Copies the application and replaces its resource section.
std::string app_with_section(const TempTree& tree, const std::string& name, const std::string* section) {
  std::string copy = tree.path(name);
  std::string command = "cp '" TARNWICKLOFT_APP "' '" + copy + "' && objcopy --remove-section .tarnwickloft.rsrc '" + copy + "'";
  if (section != nullptr) {
    std::string bytes = tree.file(name + ".rsrc", *section, "");
    command += " && objcopy --add-section .tarnwickloft.rsrc='" + bytes + "' '" + copy + "'";
  }
  EXPECT_EQ(system(command.c_str()), 0);
  return copy;
}

TEST_F(AppTest, WithoutAWindowArchiveItSaysWhyAndQuits) {
  std::string garbage = "not a container";
  std::string badArchive = BResources::Flatten({{four_cc("ARCV"), 0, "W_Tarnwickloft", "TWKM damaged"}});
  BMessage notWindow(B_ARCHIVED_OBJECT);
  notWindow.AddString("class", "BView");
  std::string bytes(size_t(notWindow.FlattenedSize()), '\0');
  notWindow.Flatten(bytes.data(), ssize_t(bytes.size()));
  std::string viewArchive = BResources::Flatten({{four_cc("ARCV"), 0, "W_Tarnwickloft", bytes}});
  struct {
    const char* name;
    const std::string* section;
    const char* ending;
  } cases[] = {
      {"no-section", nullptr, "Pre res.SetTo\nThis is not a resource file \n"},
      {"garbage", &garbage, "Pre res.SetTo\nThis is not a resource file \n"},
      {"no-archive", &viewArchive, "Pre new TarnWin\nCan't create window from resource message\n"},
      {"bad-archive", &badArchive, "Pre lBmTemp.Unflatten\nCan't unflatten backing view\n"},
  };
  std::string noWindow = BResources::Flatten({{four_cc("MIMS"), 1, "BEOS:APP_SIG", "x"}});
  Child missing = Start({app_with_section(tree, "missing", &noWindow)});
  EXPECT_EQ(missing.Wait(), 0);
  EXPECT_TRUE(missing.output.ends_with("Pre res.FindResource\nCan't find window in resource\n")) << missing.output;
  for (const auto& c : cases) {
    Child app = Start({app_with_section(tree, c.name, c.section)});
    EXPECT_EQ(app.Wait(), 0) << c.name;
    EXPECT_TRUE(app.output.ends_with(c.ending)) << c.name << ":\n" << app.output;
  }
}

// Points the application's signature at the probe, as registration would.
void register_probe(const std::string& dataHome) {
  std::string folder = dataHome + "/applications";
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "/org.tarnwickloft.Tarnwickloft.desktop")
      << "[Desktop Entry]\nType=Application\nName=Probe\nTryExec=" TARNWICKLOFT_PROBE
         "\nExec=" TARNWICKLOFT_PROBE "\nX-Tarnwickloft-Signature=application/x-vnd.TaRnWiCkLoFt\n";
}

BMessage probe_message(const std::string& out, std::string* origin) {
  for (int i = 0; i < 200 && access(out.c_str(), F_OK) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  std::string content = read_file(out);
  size_t first = content.find('\n'), second = content.find('\n', first + 1);
  EXPECT_NE(second, std::string::npos) << content;
  *origin = content.substr(0, first);
  EXPECT_EQ(content.substr(first + 1, second - first - 1), "0");
  BMessage message;
  std::string bytes = content.substr(second + 1);
  EXPECT_EQ(message.Unflatten(bytes.data(), ssize_t(bytes.size())), B_OK);
  return message;
}

std::vector<entry_ref> refs_of(const BMessage& message) {
  std::vector<entry_ref> refs;
  entry_ref ref;
  for (int32 i = 0; message.FindRef("refs", i, &ref) == B_OK; ++i) refs.push_back(ref);
  return refs;
}

TEST_F(AppTest, TheFileManagerEntryLaunchesWithTheFolderOrTheSelection) {
  register_probe(home.home() + "/.local/share");
  std::string folder = tree.folder("shown folder");
  std::string a = tree.file("shown folder/a.txt", "x"), b = tree.file("shown folder/-b.txt", "y");
  void* module = dlopen(TARNWICKLOFT_ADDON, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  auto process_refs = reinterpret_cast<void (*)(entry_ref, BMessage*, void*)>(dlsym(module, "process_refs"));
  ASSERT_NE(process_refs, nullptr);
  entry_ref folderRef, aRef, bRef;
  BEntry(folder.c_str()).GetRef(&folderRef);
  BEntry(a.c_str()).GetRef(&aRef);
  BEntry(b.c_str()).GetRef(&bRef);

  std::string out = tree.path("nothing-selected");
  setenv("PROBE_OUT", out.c_str(), 1);
  BMessage none(B_REFS_RECEIVED);
  process_refs(folderRef, &none, nullptr);
  std::string origin;
  BMessage got = probe_message(out, &origin);
  EXPECT_EQ(got.what, B_REFS_RECEIVED);
  EXPECT_EQ(refs_of(got), std::vector<entry_ref>{folderRef});
  EXPECT_EQ(origin.rfind("/memfd:", 0), 0u) << origin;  // the message never touched the disk

  out = tree.path("two-selected");
  setenv("PROBE_OUT", out.c_str(), 1);
  BMessage two(B_REFS_RECEIVED);
  two.AddRef("refs", &aRef);
  two.AddRef("refs", &bRef);
  process_refs(folderRef, &two, nullptr);
  EXPECT_EQ(refs_of(probe_message(out, &origin)), (std::vector<entry_ref>{aRef, bRef}));

  // The host does the same from a file manager's command line, in its current folder.
  out = tree.path("host");
  setenv("PROBE_OUT", out.c_str(), 1);
  Child host = Start({TARNWICKLOFT_FILEMANAGER, folder, a, b});
  EXPECT_EQ(host.Wait(), 0);
  EXPECT_EQ(refs_of(probe_message(out, &origin)), (std::vector<entry_ref>{aRef, bRef}));
  unsetenv("PROBE_OUT");
  dlclose(module);
}

TEST_F(AppTest, AFileThatPrefersThisApplicationOpensInANewInstance) {
  register_probe(home.home() + "/.local/share");
  std::string file = tree.file("saved search", "TWKM", "message/x-Tarnwickloft");
  BNode node(file.c_str());
  BNodeInfo info(&node);
  ASSERT_EQ(info.SetPreferredApp("application/x-vnd.TaRnWiCkLoFt"), B_OK);
  std::string out = tree.path("opened");
  setenv("PROBE_OUT", out.c_str(), 1);
  entry_ref ref;
  BEntry(file.c_str()).GetRef(&ref);
  ASSERT_EQ(be_roster->Launch(&ref), B_OK);
  std::string origin;
  BMessage got = probe_message(out, &origin);
  unsetenv("PROBE_OUT");
  EXPECT_EQ(got.what, B_REFS_RECEIVED);
  EXPECT_EQ(refs_of(got), std::vector<entry_ref>{ref});
  entry_ref missing(ref);
  missing.set_name("not there");
  EXPECT_EQ(be_roster->Launch(&missing), B_ENTRY_NOT_FOUND);
}

// The pid of the application started with this test's home, found by its environment.
pid_t find_instance(const std::string& home) {
  std::string wanted = "HOME=" + home;
  for (int attempt = 0; attempt < 100; ++attempt) {
    DIR* proc = opendir("/proc");
    while (dirent* entry = readdir(proc)) {
      pid_t pid = atoi(entry->d_name);
      if (pid <= 0) continue;
      char exe[4096] = {};
      std::string base = std::string("/proc/") + entry->d_name;
      if (readlink((base + "/exe").c_str(), exe, sizeof exe - 1) <= 0 || std::string(exe) != TARNWICKLOFT_APP)
        continue;
      std::string environment = read_file(base + "/environ");
      if (environment.find(wanted + '\0') != std::string::npos) {
        closedir(proc);
        return pid;
      }
    }
    closedir(proc);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return -1;
}

TEST_F(AppTest, ANewInstanceReceivesTheLaunchMessageAsRefs) {
  Child first = Start({TARNWICKLOFT_APP});  // registers the application
  ASSERT_TRUE(first.ReadUntil("Show()\n"));
  kill(first.pid, SIGTERM);
  first.Wait();
  std::string folder = tree.folder("a folder");
  Child host = Start({TARNWICKLOFT_FILEMANAGER, folder});
  ASSERT_TRUE(host.ReadUntil("Show()\n")) << host.output;  // the new instance shares the pipe
  pid_t instance = find_instance(home.home());
  ASSERT_GT(instance, 0);
  kill(instance, SIGTERM);
  host.ReadUntil("RefsReceived\n");
  close(host.out);
  waitpid(host.pid, nullptr, 0);
  EXPECT_EQ(host.output, std::string(kStartUp) + "RefsReceived\n");
}

}  // namespace

namespace {

// Run from an installed prefix that carries its desktop entry and MIME package, the program
// writes no per-user copies, and takes away the ones a build-folder run left.
TEST_F(AppTest, AnInstalledProgramLeavesTheSystemsRegistrationUnshadowed) {
  std::string prefix = tree.folder("prefix");
  std::filesystem::create_directories(prefix + "/bin");
  std::filesystem::copy_file(TARNWICKLOFT_APP, prefix + "/bin/tarnwickloft");
  tree.file("prefix/share/applications/org.tarnwickloft.Tarnwickloft.desktop",
            "[Desktop Entry]\nType=Application\nName=Tarnwickloft\nTryExec=" + prefix +
                "/bin/tarnwickloft\nExec=" + prefix + "/bin/tarnwickloft\n"
                "X-Tarnwickloft-Signature=application/x-vnd.TaRnWiCkLoFt\n", "");
  tree.file("prefix/share/mime/packages/org.tarnwickloft.Tarnwickloft.xml", "<mime-info/>", "");
  std::string stale = home.tree().file(".local/share/applications/org.tarnwickloft.Tarnwickloft.desktop",
                                       "[Desktop Entry]\nX-Tarnwickloft-Signature=application/x-vnd.TaRnWiCkLoFt\n", "");
  Child app = Start({prefix + "/bin/tarnwickloft"});
  ASSERT_TRUE(app.ReadUntil("Show()\n")) << app.output;
  kill(app.pid, SIGTERM);
  EXPECT_EQ(app.Wait(), 0);
  EXPECT_NE(access(stale.c_str(), F_OK), 0);
  EXPECT_EQ(Registered("mime/packages/org.tarnwickloft.Tarnwickloft.xml"), "");
  // Launching by signature finds the installed program.
  setenv("XDG_DATA_DIRS", (prefix + "/share").c_str(), 1);
  std::string executable;
  EXPECT_EQ(be_roster->FindApp("application/x-vnd.TaRnWiCkLoFt", &executable), B_OK);
  EXPECT_EQ(executable, prefix + "/bin/tarnwickloft");
}

}  // namespace
