#include "AppFileInfo.h"

#include <cstring>
#include <fstream>
#include <glib.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "AsciiFold.h"
#include "DesktopFiles.h"
#include "DirHandle.h"
#include "File.h"
#include "FindDirectory.h"
#include "Message.h"
#include "MimeType.h"
#include "Path.h"
#include "Process.h"

extern char** environ;

namespace {

constexpr const char* kDirectoryType = "application/x-vnd.Be-directory";
constexpr const char* kFileManagerAction = "Search here with ";

std::string leaf_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string folder_of(const std::string& path) { return path.substr(0, path.rfind('/')); }

// The desktop shows the executable's name, capitalised.
std::string display_name(const std::string& executable) {
  std::string name = leaf_of(executable);
  if (!name.empty()) name[0] = char(ascii::upper(name[0]));
  return name;
}

// One argument of an Exec line: quoted when needed, with the characters that are special
// inside quotes escaped, then escaped again as a desktop-entry string.
std::string exec_argument(const std::string& arg) {
  std::string quoted;
  bool plain = !arg.empty();
  for (char c : arg) {
    if (strchr(" \t\n\"'\\><~|&;$*?#()`=%", c) != nullptr) plain = false;
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  std::string escaped;
  for (char c : plain ? arg : "\"" + quoted + "\"") {
    if (c == '\\') escaped += '\\';
    if (c == '%') escaped += '%';
    escaped += c;
  }
  return escaped;
}

// A path with control characters (a newline above all) cannot be written into a desktop
// entry or a script line safely, so such an executable is not registered.
bool is_writable_path(const std::string& path) {
  for (unsigned char c : path)
    if (c < 0x20 || c == 0x7f) return false;
  return !path.empty();
}

std::string shell_quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool is_executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

// An installed program's helpers are in PREFIX/libexec/tarnwickloft (installed_prefix).
// Run from a build folder, the helpers are beside it.
std::string helper_path(const std::string& executable, const char* helper) {
  std::string beside = folder_of(executable) + "/" + helper;
  std::string prefix = installed_prefix(executable);
  std::string installed = prefix + "/libexec/tarnwickloft/" + helper;
  return is_executable(beside) || prefix.empty() ? beside : installed;
}

// Runs one of the desktop's database tools and waits for it; a missing tool is no error.
void run_tool(std::initializer_list<std::string> argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) == 0)
    waitpid(pid, nullptr, 0);
}

// Writes a file in a folder it makes when missing; true when the content changed.
bool update_file(const std::string& path, const std::string& content, status_t* status) {
  bool changed = false;
  *status = create_folders(folder_of(path), 0755);
  if (*status == B_OK) *status = write_if_changed(path, content, &changed);
  return changed;
}

}  // namespace

BAppFileInfo::BAppFileInfo(BFile* file) {
  status_ = file == nullptr ? B_BAD_VALUE : file->InitCheck();
  if (status_ == B_OK) status_ = path_of_fd(file->Descriptor(), &executable_);
}

std::string BAppFileInfo::DesktopEntryPath(const char* signature) {
  return user_data_folder() + "/applications/" + desktop_file_name(signature);
}

std::string BAppFileInfo::MimePackagePath(const char* signature) {
  return user_data_folder() + "/mime/packages/" + desktop_id(signature) + ".xml";
}

status_t BAppFileInfo::SetAppFlags(uint32 flags) {
  if (status_ != B_OK) return status_;
  flags_ = flags;
  return Register();
}

status_t BAppFileInfo::SetSignature(const char* signature) {
  if (status_ != B_OK) return status_;
  if (!BMimeType::IsValid(signature)) return B_BAD_VALUE;
  signature_ = signature;
  return Register();
}

status_t BAppFileInfo::SetSupportedTypes(const BMessage* types) {
  if (status_ != B_OK) return status_;
  if (types == nullptr) return B_BAD_VALUE;
  types_.clear();
  const char* type;
  for (int32 i = 0; types->FindString("types", i, &type) == B_OK; ++i)
    if (BMimeType::IsValid(type)) types_.push_back(type);
  return Register();
}

std::vector<std::string> BAppFileInfo::DesktopTypes() const {
  std::vector<std::string> types;
  for (const std::string& type : types_) {
    BMessage installed;
    const char* name;
    if (type == kDirectoryType) {
      types.push_back("inode/directory");
    } else if (BMimeType(type.c_str()).IsSupertypeOnly()) {
      if (BMimeType::GetInstalledTypes(type.c_str(), &installed) == B_OK)
        for (int32 i = 0; installed.FindString("types", i, &name) == B_OK; ++i) types.push_back(name);
    } else {
      types.push_back(type);
    }
  }
  return types;
}

bool BAppFileInfo::IsOwnType(const std::string& type) const {
  size_t slash = type.find('/');
  std::string own = "/x-" + display_name(executable_);
  return slash != std::string::npos && ascii::casecmp(type.c_str() + slash, own.c_str()) == 0;
}

// Only the application's own document types go on the MimeType line. Under the freedesktop
// rules a user's entry outranks the system's wherever no default is set, so listing text types
// or folders there would make this program the default editor and file manager; it is offered
// for those through the file-manager scripts instead. The full supported list is recorded in
// X-Tarnwickloft-SupportedTypes, which no desktop reads for defaults.
std::string BAppFileInfo::DesktopEntry() const {
  std::string name = display_name(executable_);
  std::string helper = helper_path(executable_, kOpenHelper);
  std::string exec = is_executable(helper)
                         ? exec_argument(helper) + " " + exec_argument(executable_) + " %F"
                         : exec_argument(executable_);
  std::string mimeTypes, supported;
  for (const std::string& type : DesktopTypes()) {
    supported += type + ";";
    if (IsOwnType(type)) mimeTypes += type + ";";
  }
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=" + name + "\n"
         "Icon=" + desktop_id(signature_.c_str()) + "\n"
         "TryExec=" + escape_entry_string(executable_) + "\n"
         "Exec=" + exec + "\n"
         "MimeType=" + mimeTypes + "\n"
         "Terminal=false\n"
         "Categories=Utility;\n"
         "StartupWMClass=" + std::string(kWindowClass) + "\n"
         "X-Tarnwickloft-Signature=" + signature_ + "\n"
         "X-Tarnwickloft-Launch=" + (flags_ == B_MULTIPLE_LAUNCH ? "multiple" : "single") + "\n"
         "X-Tarnwickloft-SupportedTypes=" + supported + "\n";
}

// The application's own types, "<super>/x-<name>", recognised by the flattened message
// header that their files begin with.
std::string BAppFileInfo::MimePackage() const {
  std::string name = display_name(executable_);
  std::string types;
  for (const std::string& type : types_) {
    if (!IsOwnType(type)) continue;
    types += "  <mime-type type=\"" + type + "\">\n"
             "    <comment>" + name + " document</comment>\n"
             "    <magic priority=\"60\"><match type=\"string\" offset=\"0\" value=\"TWKM\"/></magic>\n"
             "  </mime-type>\n";
  }
  if (types.empty()) return "";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n" +
         types + "</mime-info>\n";
}

namespace {

// Whether a program of that name is on the PATH.
bool on_path(const char* program) {
  gchar* found = g_find_program_in_path(program);
  g_free(found);
  return found != nullptr;
}

bool is_own_script(const std::string& path, const std::string& mark) {
  std::ifstream script(path);
  std::string first, second;
  return std::getline(script, first) && std::getline(script, second) && second == mark;
}

}  // namespace

// A "Search here" script for each of Nautilus, Nemo and Caja that is installed; Nemo takes
// the installed program's own action instead when there is one. A script an earlier start
// wrote for a file manager that has gone since is taken away. A script whose program has
// gone (the package removed) removes itself when run and does nothing else.
void BAppFileInfo::WriteFileManagerScripts(const std::string& dataFolder) const {
  std::string host = helper_path(executable_, kFileManagerHost);
  if (!is_executable(host)) return;
  std::string mark = "# Written by " + display_name(executable_) + "'s registration.";
  std::string script = "#!/bin/sh\n" + mark + "\n"
                       "host=" + shell_quote(host) + "\n"
                       "if [ ! -x \"$host\" ]; then rm -f -- \"$0\"; exit 0; fi\n"
                       "exec \"$host\" \"$PWD\" \"$@\"\n";
  std::string action = kFileManagerAction + display_name(executable_);
  BPath config;
  find_directory(B_USER_SETTINGS_DIRECTORY, &config);
  std::string prefix = installed_prefix(executable_);
  bool nemoAction = !prefix.empty() &&
      access((prefix + "/share/nemo/actions/" + desktop_id(signature_.c_str()) + ".nemo_action").c_str(), F_OK) == 0;
  struct {
    const char* program;
    std::string folder;
    bool wanted;
  } managers[] = {{"nautilus", dataFolder + "/nautilus/scripts", true},
                  {"nemo", dataFolder + "/nemo/scripts", !nemoAction},
                  {"caja", std::string(config.Path() ? config.Path() : "") + "/caja/scripts", true}};
  for (const auto& manager : managers) {
    std::string path = manager.folder + "/" + action;
    if (!manager.wanted || !on_path(manager.program)) {
      if (is_own_script(path, mark)) unlink(path.c_str());
      continue;
    }
    status_t status;
    update_file(path, script, &status);
    chmod(path.c_str(), 0755);
  }
}

bool BAppFileInfo::IsInstalled() const {
  std::string prefix = installed_prefix(executable_);
  return !prefix.empty() &&
         read_registered_entry(prefix + "/share/applications/" + desktop_file_name(signature_.c_str()), signature_) &&
         access((prefix + "/share/mime/packages/" + desktop_id(signature_.c_str()) + ".xml").c_str(), F_OK) == 0;
}

// An installed program has its desktop entry and MIME package in its prefix: copies in the
// user's folder would only shadow them, so none is written, and copies an earlier run from a
// build folder left there are taken away.
void BAppFileInfo::RemoveUserCopies(const std::string& dataFolder) const {
  std::string entry = DesktopEntryPath(signature_.c_str());
  if (!read_registered_entry(entry, signature_)) return;
  unlink(entry.c_str());
  run_tool({"update-desktop-database", "-q", dataFolder + "/applications"});
  if (unlink(MimePackagePath(signature_.c_str()).c_str()) == 0) run_tool({"update-mime-database", dataFolder + "/mime"});
}

// Writes nothing until the signature is known, and leaves an existing entry alone until the
// supported types are known too, so that registering in steps rewrites no file at each start.
status_t BAppFileInfo::Register() {
  if (signature_.empty()) return B_OK;
  if (!is_writable_path(executable_)) return B_BAD_VALUE;
  std::string data = user_data_folder();
  if (data.empty()) return B_ENTRY_NOT_FOUND;
  if (IsInstalled()) {
    RemoveUserCopies(data);
    WriteFileManagerScripts(data);
    return B_OK;
  }
  std::string entryPath = DesktopEntryPath(signature_.c_str());
  if (types_.empty() && access(entryPath.c_str(), F_OK) == 0) return B_OK;
  status_t status = B_OK;
  if (update_file(entryPath, DesktopEntry(), &status))
    run_tool({"update-desktop-database", "-q", data + "/applications"});
  if (status != B_OK) return status;
  std::string package = MimePackage();
  if (!package.empty() && update_file(MimePackagePath(signature_.c_str()), package, &status))
    run_tool({"update-mime-database", data + "/mime"});
  if (status != B_OK) return status;
  WriteFileManagerScripts(data);
  return B_OK;
}
