// Preloaded into pdftotext, turns it into a server of forks of itself once its libraries are
// loaded and bound: most of what pdftotext costs for a small document is that start-up (some
// thirty libraries bound at load), and a fork of a started copy skips it. Each fork reads one
// document as a freshly started pdftotext would, from descriptor 3, under its own limits.
//
// Without TARNWICKLOFT_FORK_SERVER in the environment the program runs as it would. With it,
// the number it holds is a SOCK_SEQPACKET socket, and before the program's main:
//   the server sends kForkServerHello;
//   then, for each document, it receives a ForkRequest with the document, output and error
//   descriptors, forks, and sends the fork's pid with a pidfd for it, and then its wait status
//   once it has ended. The fork goes on into the program's main.
// The server ends when the socket is closed.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ForkServer.h"

typedef int (*StartMain)(int (*)(int, char**, char**), int, char**, void (*)(void), void (*)(void),
                         void (*)(void), void*);

// Receives a request and its three descriptors; 0 when the socket closed or the message is not one.
static int receive_request(int sock, struct ForkRequest* request, int fds[3]) {
  char control[CMSG_SPACE(3 * sizeof(int))];
  struct iovec data = {request, sizeof *request};
  struct msghdr message = {0};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t got;
  do got = recvmsg(sock, &message, MSG_CMSG_CLOEXEC);
  while (got < 0 && errno == EINTR);
  struct cmsghdr* header = CMSG_FIRSTHDR(&message);
  if (got != (ssize_t)sizeof *request || header == NULL || header->cmsg_type != SCM_RIGHTS ||
      header->cmsg_len != CMSG_LEN(3 * sizeof(int)))
    return 0;
  memcpy(fds, CMSG_DATA(header), 3 * sizeof(int));
  return 1;
}

// Sends bytes, with a descriptor when fd is not negative.
static void send_with(int sock, const void* bytes, size_t size, int fd) {
  char control[CMSG_SPACE(sizeof(int))];
  struct iovec data = {(void*)bytes, size};
  struct msghdr message = {0};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  if (fd >= 0) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    struct cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    memcpy(CMSG_DATA(header), &fd, sizeof fd);
  }
  while (sendmsg(sock, &message, MSG_NOSIGNAL) < 0 && errno == EINTR) {
  }
}

// The fork's side: the descriptors in place (standard output and error, the document on 3),
// the limits set, and nothing of the server's left open.
static void become_reader(int sock, const struct ForkRequest* request, int fds[3]) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  for (int i = 0; i < 3; ++i) fds[i] = fcntl(fds[i], F_DUPFD_CLOEXEC, 10);
  if (fds[0] < 0 || fds[1] < 0 || fds[2] < 0 || dup2(fds[1], 1) < 0 || dup2(fds[2], 2) < 0 || dup2(fds[0], 3) < 0)
    _exit(127);
  close(sock);
  struct rlimit memory = {request->memory, request->memory};
  struct rlimit cpu = {request->cpuSeconds, request->cpuSeconds + 1};
  struct rlimit core = {0, 0};
  setrlimit(RLIMIT_AS, &memory);
  setrlimit(RLIMIT_CPU, &cpu);
  setrlimit(RLIMIT_CORE, &core);
}

// Serves forks until the socket closes; returns only in a fork.
static void serve(int sock) {
  send_with(sock, kForkServerHello, sizeof kForkServerHello, -1);
  for (;;) {
    struct ForkRequest request;
    int fds[3];
    if (!receive_request(sock, &request, fds)) _exit(0);
    pid_t child = fork();
    if (child == 0) {
      become_reader(sock, &request, fds);
      return;
    }
    for (int i = 0; i < 3; ++i) close(fds[i]);
    int32_t reply = child;
    int pidfd = child > 0 ? (int)syscall(SYS_pidfd_open, child, 0) : -1;
    send_with(sock, &reply, sizeof reply, pidfd);
    if (pidfd >= 0) close(pidfd);
    int32_t status = -1;
    if (child > 0) {
      int wait = 0;
      while (waitpid(child, &wait, 0) < 0 && errno == EINTR) {
      }
      status = wait;
    }
    send_with(sock, &status, sizeof status, -1);
  }
}

int __libc_start_main(int (*main)(int, char**, char**), int argc, char** argv, void (*init)(void),
                      void (*fini)(void), void (*rtld_fini)(void), void* stack_end) {
  StartMain real = (StartMain)dlsym(RTLD_NEXT, "__libc_start_main");
  const char* socket = getenv(kForkServerVariable);
  if (socket != NULL) {
    int sock = atoi(socket);
    unsetenv(kForkServerVariable);
    unsetenv("LD_PRELOAD");
    serve(sock);
  }
  return real(main, argc, argv, init, fini, rtld_fini, stack_end);
}
