/* What the search and the fork server preloaded into pdftotext (ForkServer.c) say to each other. */
#ifndef TARNWICKLOFT_FORK_SERVER_H
#define TARNWICKLOFT_FORK_SERVER_H

#include <stdint.h>

/* The socket's descriptor number, in the server's environment. */
static const char kForkServerVariable[] = "TARNWICKLOFT_FORK_SERVER";
/* What the server sends once it is ready; another version says something else. */
static const char kForkServerHello[] = "tarnwickloft-fork-server 1";

/* A document to read: the fork's limits. */
struct ForkRequest {
  uint64_t memory;     /* RLIMIT_AS, bytes */
  uint64_t cpuSeconds; /* RLIMIT_CPU */
};

#endif
