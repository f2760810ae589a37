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
#include <vector>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Documents.h"
#include "ForkServer.h"
#include "platform/Process.h"

extern char** environ;

namespace {

constexpr int kChildInput = 3;  // the document's descriptor in the child
constexpr std::chrono::milliseconds kStopCheck{20};
// How long a fork server may take to start, or to answer.
constexpr int kServerPatienceMs = 5000;

// -raw keeps the line ends and hyphens as typeset (the default mode joins hyphenated lines,
// which turns "well-⏎known" into "wellknown"); the normal form joins them (DocumentPhrase.h).
// Its messages are read for the reason of a failure ("Incorrect password").
constexpr const char* kArguments[] = {"-raw", "-enc", "UTF-8", "/dev/fd/3", "-"};

rlim_t cpu_seconds(const DocumentLimits& limits) {
  return rlim_t(std::chrono::duration_cast<std::chrono::seconds>(limits.time).count() + 1);
}

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
  rlimit cpu{cpu_seconds(limits), cpu_seconds(limits) + 1};
  rlimit core{0, 0};
  setrlimit(RLIMIT_AS, &memory);
  setrlimit(RLIMIT_CPU, &cpu);
  setrlimit(RLIMIT_CORE, &core);
  const char* argv[] = {program, kArguments[0], kArguments[1], kArguments[2], kArguments[3], kArguments[4], nullptr};
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

// The pipes an extractor writes its text and its messages to.
bool output_pipes(int out[2], int err[2]) {
  if (pipe2(out, O_CLOEXEC) != 0) return false;
  if (pipe2(err, O_CLOEXEC) == 0) return true;
  close(out[0]);
  close(out[1]);
  return false;
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
  if (!output_pipes(out, err)) return B_NO_MORE_FDS;
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

// ---- Fork servers

namespace {

// The fork server library to preload; "" when forks are turned off or there is none.
std::string fork_server_library() {
  const char* choice = getenv("TARNWICKLOFT_PDF_FORKS");
  if (choice != nullptr && strcmp(choice, "0") == 0) return "";
  return helper_library("tarnwickloft-forkserver.so", TARNWICKLOFT_FORK_SERVER_BUILT);
}

// Waits up to kServerPatienceMs for a message on the socket; its size, or -1. A descriptor
// that comes with it goes to *fd when fd is given.
ssize_t receive(int sock, void* bytes, size_t size, int* fd = nullptr) {
  pollfd ready{sock, POLLIN, 0};
  int polled;
  while ((polled = poll(&ready, 1, kServerPatienceMs)) < 0 && errno == EINTR) {
  }
  if (polled <= 0) return -1;
  char control[CMSG_SPACE(sizeof(int))];
  iovec data{bytes, size};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t got = recvmsg(sock, &message, MSG_CMSG_CLOEXEC);
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_type != SCM_RIGHTS) continue;
    int passed;
    memcpy(&passed, CMSG_DATA(header), sizeof passed);
    if (fd != nullptr) *fd = passed;
    else close(passed);
  }
  return got;
}

bool send_request(int sock, const ForkRequest& request, const int (&fds)[3]) {
  char control[CMSG_SPACE(sizeof fds)];
  iovec data{const_cast<ForkRequest*>(&request), sizeof request};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof fds);
  memcpy(CMSG_DATA(header), fds, sizeof fds);
  return sendmsg(sock, &message, MSG_NOSIGNAL) == ssize_t(sizeof request);
}

}  // namespace

// One started pdftotext that forks a reader for each document.
class PdfForks::Server {
 public:
  static std::unique_ptr<Server> Start(const std::string& program, const std::string& library);
  ~Server() {
    close(sock_);  // the server ends when its socket closes, and so would its forks
    kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  // Reads one document by a fork; false when the server failed and the document was not read.
  bool Extract(int fd, const DocumentLimits& limits, const std::atomic<bool>* stop, std::string* raw,
               status_t* result);

 private:
  Server(pid_t pid, int sock) : pid_(pid), sock_(sock) {}
  const pid_t pid_;
  const int sock_;
};

std::unique_ptr<PdfForks::Server> PdfForks::Server::Start(const std::string& program, const std::string& library) {
  constexpr int kServerSocket = 4;  // the socket's descriptor in the server
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return nullptr;
  // Everything the child needs is made before the fork.
  std::vector<std::string> settings{"LD_PRELOAD=" + library,
                                    std::string(kForkServerVariable) + "=" + std::to_string(kServerSocket)};
  for (char** setting = environ; *setting != nullptr; ++setting)
    if (strncmp(*setting, "LD_PRELOAD=", 11) != 0 && strncmp(*setting, kForkServerVariable, strlen(kForkServerVariable)) != 0)
      settings.emplace_back(*setting);
  std::vector<char*> envp;
  for (std::string& setting : settings) envp.push_back(setting.data());
  envp.push_back(nullptr);
  const char* argv[] = {program.c_str(), kArguments[0], kArguments[1], kArguments[2], kArguments[3], kArguments[4], nullptr};
  pid_t pid = fork();
  if (pid == 0) {
    int sock = fcntl(pair[1], F_DUPFD, 10);  // out of the way of the descriptors set below
    int nothing = open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= kChildInput; ++fd) dup2(nothing, fd);
    if (sock < 0 || dup2(sock, kServerSocket) < 0) _exit(127);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    execve(program.c_str(), const_cast<char* const*>(argv), envp.data());
    _exit(127);
  }
  close(pair[1]);
  if (pid < 0) {
    close(pair[0]);
    return nullptr;
  }
  std::unique_ptr<Server> server(new Server(pid, pair[0]));
  char hello[sizeof kForkServerHello];
  if (receive(pair[0], hello, sizeof hello) != ssize_t(sizeof hello) || memcmp(hello, kForkServerHello, sizeof hello) != 0)
    return nullptr;
  return server;
}

bool PdfForks::Server::Extract(int fd, const DocumentLimits& limits, const std::atomic<bool>* stop,
                               std::string* raw, status_t* result) {
  int out[2], err[2];
  if (!output_pipes(out, err)) return false;
  ForkRequest request{limits.extractorMemory, uint64_t(cpu_seconds(limits))};
  bool sent = send_request(sock_, request, {fd, out[1], err[1]});
  close(out[1]);
  close(err[1]);
  int32_t pid = -1;
  int pidfd = -1;
  bool forked = sent && receive(sock_, &pid, sizeof pid, &pidfd) == ssize_t(sizeof pid);
  Complaints complaints;
  status_t status = !forked ? B_ERROR : pid > 0 ? collect(out[0], err[0], limits, stop, raw, &complaints) : B_NO_MEMORY;
  close(out[0]);
  close(err[0]);
  if (forked && pid > 0 && status != B_OK) {
    if (pidfd < 0 || syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) != 0) kill(pid, SIGKILL);
  }
  int32_t wait = 0;
  bool ended = forked && receive(sock_, &wait, sizeof wait) == ssize_t(sizeof wait);
  if (pidfd >= 0) close(pidfd);
  if (!ended) return false;
  *result = status != B_OK ? status : status_of_exit(wait, complaints);
  return true;
}

PdfForks::PdfForks(std::string program)
    : program_(std::move(program)), library_(program_.empty() ? "" : fork_server_library()) {}

PdfForks::~PdfForks() = default;

std::unique_ptr<PdfForks::Server> PdfForks::Take() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!idle_.empty()) {
      std::unique_ptr<Server> server = std::move(idle_.back());
      idle_.pop_back();
      return server;
    }
    if (failed_ || library_.empty()) return nullptr;
  }
  std::unique_ptr<Server> server = Server::Start(program_, library_);
  if (!server) {
    std::lock_guard<std::mutex> guard(mutex_);
    failed_ = true;
  }
  return server;
}

status_t PdfForks::Extract(int fd, const DocumentLimits& limits, const std::atomic<bool>* stop, std::string* raw) {
  if (program_.empty()) return B_NO_EXTRACTOR;
  if (std::unique_ptr<Server> server = Take()) {
    status_t result;
    if (server->Extract(fd, limits, stop, raw, &result)) {
      forked_.fetch_add(1, std::memory_order_relaxed);
      std::lock_guard<std::mutex> guard(mutex_);
      idle_.push_back(std::move(server));
      return result;
    }
    raw->clear();  // the server failed, and ends here; this document starts a pdftotext of its own
  }
  return extract_pdf_text(program_, fd, limits, stop, raw);
}
