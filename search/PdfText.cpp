// The text of a PDF, from poppler's pdftotext run as a child process (poppler is GPL; this
// program only runs it). The child reads the document through an inherited descriptor, so no
// path is looked up again and no temporary file is made; it writes UTF-8 text with a form feed
// after each page to a pipe. It runs under an address-space limit and a CPU limit, and is
// killed when its wall time is up, its text grows past the limit, or the search stops.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Documents.h"

namespace {

constexpr int kChildInput = 3;  // the document's descriptor in the child
constexpr std::chrono::milliseconds kStopCheck{20};

std::string find_on_path(const char* program) {
  const char* path = getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  for (size_t start = 0; start <= folders.size();) {
    size_t colon = std::min(folders.find(':', start), folders.size());
    std::string candidate = folders.substr(start, colon - start) + "/" + program;
    if (colon > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = colon + 1;
  }
  return "";
}

// The child's side, between fork and exec: only calls that are safe in a child of a threaded
// process.
[[noreturn]] void run_child(const char* program, int document, int out, int err, const DocumentLimits& limits) {
  int input = fcntl(document, F_DUPFD, 10);  // out of the way of the descriptors set below
  int nothing = open("/dev/null", O_RDONLY);
  if (input < 0 || nothing < 0 || dup2(nothing, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
      dup2(input, kChildInput) < 0)
    _exit(127);
  rlimit memory{rlim_t(limits.extractorMemory), rlim_t(limits.extractorMemory)};
  rlim_t seconds = rlim_t(std::chrono::duration_cast<std::chrono::seconds>(limits.time).count() + 1);
  rlimit cpu{seconds, seconds + 1};
  rlimit core{0, 0};
  setrlimit(RLIMIT_AS, &memory);
  setrlimit(RLIMIT_CPU, &cpu);
  setrlimit(RLIMIT_CORE, &core);
  // -raw keeps the line ends and hyphens as typeset (the default mode joins hyphenated lines,
  // which turns "well-⏎known" into "wellknown"); the normal form joins them (DocumentPhrase.h).
  // Its messages are read for the reason of a failure ("Incorrect password").
  const char* argv[] = {program, "-raw", "-enc", "UTF-8", "/dev/fd/3", "-", nullptr};
  execv(program, const_cast<char* const*>(argv));
  _exit(127);
}

// What the extractor said on its error stream that tells why it failed. Only these words are
// kept: a damaged document can make it write without end.
struct Complaints {
  bool password = false;
  bool memory = false;

  void Read(std::string_view text) {
    password = password || text.find("password") != std::string_view::npos;
    memory = memory || text.find("bad_alloc") != std::string_view::npos ||
             text.find("Out of memory") != std::string_view::npos;
  }
};

// What the child's exit tells of the document.
status_t status_of_exit(int wait, const Complaints& complaints) {
  if (WIFEXITED(wait) && WEXITSTATUS(wait) == 0) return B_OK;
  if (WIFEXITED(wait) && WEXITSTATUS(wait) == 127) return B_NO_EXTRACTOR;
  if (WIFSIGNALED(wait) && WTERMSIG(wait) == SIGXCPU) return B_TIMED_OUT;
  if (complaints.memory) return B_DOCUMENT_TOO_BIG;
  if (complaints.password || (WIFEXITED(wait) && WEXITSTATUS(wait) == 3)) return B_DOCUMENT_ENCRYPTED;
  return B_BAD_DATA;
}

// Reads the child's output and errors until both end, the time is up, the text is too long or
// the search stops; B_OK when both ended.
status_t collect(int out, int err, const DocumentLimits& limits, const std::atomic<bool>* stop, std::string* text,
                 Complaints* complaints) {
  auto deadline = std::chrono::steady_clock::now() + limits.time;
  pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
  char buffer[64 * 1024];
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (stop != nullptr && stop->load(std::memory_order_relaxed)) return B_CANCELED;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return B_TIMED_OUT;
    int ready = poll(fds, 2, int(std::min(left, kStopCheck).count()) + 1);
    if (ready < 0 && errno != EINTR) return B_FILE_ERROR;
    for (int i = 0; i < 2 && ready > 0; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        fds[i].fd = -1;
        continue;
      }
      if (i == 1) {
        complaints->Read(std::string_view(buffer, size_t(got)));
        continue;
      }
      if (text->size() + size_t(got) > limits.expanded) return B_DOCUMENT_TOO_BIG;
      text->append(buffer, size_t(got));
    }
  }
  return B_OK;
}

}  // namespace

std::string pdf_extractor_path() {
  const char* chosen = getenv("TARNWICKLOFT_PDFTOTEXT");
  return chosen != nullptr && *chosen != '\0' ? std::string(chosen) : find_on_path("pdftotext");
}

std::string pdf_extractor_version(const std::string& extractor) {
  struct stat st;
  if (extractor.empty() || stat(extractor.c_str(), &st) != 0) return "";
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
         std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

status_t extract_pdf_text(const std::string& program, int fd, const DocumentLimits& limits,
                          const std::atomic<bool>* stop, std::string* raw) {
  if (program.empty()) return B_NO_EXTRACTOR;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return B_NO_MORE_FDS;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return B_NO_MORE_FDS;
  }
  pid_t child = fork();
  if (child == 0) run_child(program.c_str(), fd, out[1], err[1], limits);
  close(out[1]);
  close(err[1]);
  status_t status = child < 0 ? B_NO_MEMORY : B_OK;
  Complaints complaints;
  if (status == B_OK) status = collect(out[0], err[0], limits, stop, raw, &complaints);
  close(out[0]);
  close(err[0]);
  if (child < 0) return status;
  if (status != B_OK) kill(child, SIGKILL);
  int wait = 0;
  while (waitpid(child, &wait, 0) < 0 && errno == EINTR) {
  }
  return status != B_OK ? status : status_of_exit(wait, complaints);
}
