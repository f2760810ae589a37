// Plays the old desktop's part for the file-manager entry: builds the message from the
// folder a file manager shows and the entries selected in it, loads the module and calls its
// process_refs. The file managers' scripts call it as
//   tarnwickloft-filemanager FOLDER [SELECTED...]
// Every argument is a path; none is taken for an option.
#include <cstdio>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

#include "platform/AppDefs.h"
#include "platform/Entry.h"
#include "platform/Message.h"
#include "platform/Process.h"

namespace {

constexpr const char* kModule = "tarnwickloft-addon.so";

std::string own_folder() {
  std::string self = running_executable();
  return self.empty() ? "." : self.substr(0, self.rfind('/'));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fputs("usage: tarnwickloft-filemanager FOLDER [SELECTED...]\n", stderr);
    return 2;
  }
  entry_ref folder;
  if (BEntry(argv[1]).GetRef(&folder) != B_OK) {
    fprintf(stderr, "tarnwickloft-filemanager: no folder '%s'\n", argv[1]);
    return 2;
  }
  BMessage message(B_REFS_RECEIVED);
  for (int i = 2; i < argc; ++i) {
    entry_ref ref;
    if (BEntry(argv[i]).GetRef(&ref) == B_OK) message.AddRef("refs", &ref);
  }
  std::string module = own_folder() + "/" + kModule;
  void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  auto* entry = handle ? reinterpret_cast<void (*)(entry_ref, BMessage*, void*)>(dlsym(handle, "process_refs")) : nullptr;
  if (entry == nullptr) {
    fprintf(stderr, "tarnwickloft-filemanager: cannot load %s\n", module.c_str());
    return 1;
  }
  entry(folder, &message, nullptr);
  return 0;
}
