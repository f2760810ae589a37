#include "StallMount.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

StallMount::StallMount(const std::string& folder, const std::vector<std::string>& extra) : folder_(folder) {
  struct stat before;
  if (geteuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0 || stat(folder.c_str(), &before) != 0) return;
  std::vector<std::string> args{STALL_FS, folder};
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    int quiet = open("/dev/null", O_WRONLY);  // it logs each slow read on its output
    if (quiet >= 0) dup2(quiet, STDOUT_FILENO);
    execv(STALL_FS, argv.data());
    _exit(127);
  }
  for (int i = 0; i < 100 && !mounted_; ++i) {
    struct stat now;
    mounted_ = stat(folder.c_str(), &now) == 0 && now.st_dev != before.st_dev;
    if (!mounted_) std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
}

StallMount::~StallMount() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);  // a hung read then fails at once
  waitpid(pid_, nullptr, 0);
  umount2(folder_.c_str(), MNT_DETACH);
}
