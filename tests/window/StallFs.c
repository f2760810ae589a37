/* A file system of one file, "slow.txt", whose reads hang as on a stalled network mount:
 * each read waits 20 seconds before it answers, unless the reader is killed meanwhile (a
 * fatal signal gets through, as it does on a hard NFS mount). Run as:
 *   stall-fs MOUNTPOINT [SECONDS [NAME [FAST]]]
 * (foreground), for another wait or another name; FAST names a second file with the same
 * content whose reads answer at once, listed before the slow one. */
#define FUSE_USE_VERSION 31
#include <errno.h>
#include <fuse.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static const char kContent[] = "a line with the needle in it\n";
static unsigned stall_seconds = 20;
static char file_path[256] = "/slow.txt";
static char fast_path[256] = "";

static int is_fast(const char* path) { return fast_path[0] != '\0' && strcmp(path, fast_path) == 0; }

static int stall_getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
  (void)fi;
  memset(st, 0, sizeof *st);
  if (strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  if (strcmp(path, file_path) != 0 && !is_fast(path)) return -ENOENT;
  st->st_mode = S_IFREG | 0444;
  st->st_nlink = 1;
  st->st_size = sizeof kContent - 1;
  return 0;
}

static int stall_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t offset,
                         struct fuse_file_info* fi, enum fuse_readdir_flags flags) {
  (void)offset, (void)fi, (void)flags;
  if (strcmp(path, "/") != 0) return -ENOENT;
  fill(buf, ".", NULL, 0, 0);
  fill(buf, "..", NULL, 0, 0);
  if (fast_path[0] != '\0') fill(buf, fast_path + 1, NULL, 0, 0);
  fill(buf, file_path + 1, NULL, 0, 0);
  return 0;
}

static int stall_open(const char* path, struct fuse_file_info* fi) {
  /* No page cache and no read-ahead: one read asked for is one read answered, late or not. */
  fi->direct_io = 1;
  return strcmp(path, file_path) == 0 || is_fast(path) ? 0 : -ENOENT;
}

static int stall_read(const char* path, char* buf, size_t size, off_t offset, struct fuse_file_info* fi) {
  (void)fi;
  if (!is_fast(path)) {
    printf("read\n");  /* a test waits for the first read to know a search has reached the file */
    fflush(stdout);
    for (unsigned waited = 0; waited < stall_seconds * 20; ++waited) {
      if (fuse_interrupted()) return -EINTR;
      usleep(50000);
    }
  }
  if ((size_t)offset >= sizeof kContent - 1) return 0;
  if (size > sizeof kContent - 1 - (size_t)offset) size = sizeof kContent - 1 - (size_t)offset;
  memcpy(buf, kContent + offset, size);
  return (int)size;
}

static const struct fuse_operations kOperations = {
    .getattr = stall_getattr,
    .open = stall_open,
    .read = stall_read,
    .readdir = stall_readdir,
};

int main(int argc, char* argv[]) {
  if (argc < 2 || argc > 5) return 2;
  if (argc > 2) stall_seconds = (unsigned)atoi(argv[2]);
  if (argc > 3) snprintf(file_path, sizeof file_path, "/%s", argv[3]);
  if (argc > 4) snprintf(fast_path, sizeof fast_path, "/%s", argv[4]);
  char foreground[] = "-f";
  char* args[] = {argv[0], foreground, argv[1], NULL};
  return fuse_main(3, args, &kOperations, NULL);
}
