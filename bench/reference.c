#define _GNU_SOURCE
#include "reference.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

enum { PREFIX = 1078, CHUNK = 1 << 20 };

static uint32_t get_u32(const unsigned char* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static void put_u32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (unsigned char)(v >> (8 * i));
}

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

static int write_all(int fd, const unsigned char* p, size_t n) {
  while (n > 0) {
    ssize_t done = write(fd, p, n);
    if (done <= 0) return -1;
    p += done;
    n -= (size_t)done;
  }
  return 0;
}

static int read_all(int fd, unsigned char* p, size_t n, off_t at) {
  while (n > 0) {
    ssize_t done = pread(fd, p, n, at);
    if (done <= 0) return -1;
    p += done;
    at += done;
    n -= (size_t)done;
  }
  return 0;
}

/* Positive widths up to one chunk per row, positive heights: the maps the
   benchmarks generate. */
static int halve_rows(int in, int out, unsigned char* row, unsigned char* buf,
                      int64_t w, int64_t h) {
  const int64_t w2 = w / 2, stride = (w + 3) / 4 * 4, out_stride = (w2 + 3) / 4 * 4;
  size_t used = 0;
  for (int64_t r = 1; r < h; r += 2) {
    if (read_all(in, row, (size_t)stride, PREFIX + r * stride) != 0) return -1;
    if (used + (size_t)out_stride > CHUNK) {
      if (write_all(out, buf, used) != 0) return -1;
      used = 0;
    }
    unsigned char* dst = buf + used;
    for (int64_t i = 0; i < w2; ++i) dst[i] = row[2 * i];
    memset(dst + w2, 0, (size_t)(out_stride - w2));
    used += (size_t)out_stride;
  }
  return write_all(out, buf, used);
}

static int halve_fds(int in, int out, double* flush_seconds) {
  unsigned char prefix[PREFIX];
  if (read_all(in, prefix, PREFIX, 0) != 0) return -1;
  const int64_t w = (int32_t)get_u32(prefix + 18), h = (int32_t)get_u32(prefix + 22);
  const int64_t stride = (w + 3) / 4 * 4, out_stride = (w / 2 + 3) / 4 * 4;
  if (w <= 0 || h <= 0 || stride > CHUNK) {
    errno = EINVAL;
    return -1;
  }
  put_u32(prefix + 2, (uint32_t)(PREFIX + out_stride * (h / 2)));
  put_u32(prefix + 18, (uint32_t)(w / 2));
  put_u32(prefix + 22, (uint32_t)(h / 2));
  if (write_all(out, prefix, PREFIX) != 0) return -1;
  unsigned char* row = malloc((size_t)stride);
  unsigned char* buf = malloc(CHUNK);
  int rc = row && buf ? halve_rows(in, out, row, buf, w, h) : -1;
  free(row);
  free(buf);
  if (rc != 0) return -1;
  const double start = now();
  rc = fsync(out);
  *flush_seconds = now() - start;
  return rc;
}

/* Makes the rename durable too, as the tool does. */
static void sync_folder_of(const char* path) {
  char folder[4096];
  const char* slash = strrchr(path, '/');
  size_t n = slash ? (size_t)(slash - path) : 0;
  if (n == 0 || n >= sizeof folder) return;
  memcpy(folder, path, n);
  folder[n] = '\0';
  int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

int reference_halve(const char* input, const char* scratch, const char* output,
                    double* flush_seconds) {
  int in = open(input, O_RDONLY | O_CLOEXEC);
  if (in < 0) return -1;
  int out = open(scratch, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) {
    close(in);
    return -1;
  }
  int rc = halve_fds(in, out, flush_seconds);
  close(in);
  if (close(out) != 0) rc = -1;
  if (rc == 0) rc = rename(scratch, output);
  if (rc == 0) sync_folder_of(output);
  if (rc != 0) unlink(scratch);
  return rc;
}
