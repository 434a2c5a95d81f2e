/* A disk that stalls, for the end-to-end tests: preloaded into the host, it
 * makes fwrite() to files under QUILLON_SLOW_WRITES_UNDER sleep.
 * QUILLON_SLOW_WRITES="STALL_MS:EVERY_MS": the first such write once EVERY_MS
 * have passed since the first one (or since the last stall ended) sleeps
 * STALL_MS; every other write goes straight through. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <limits.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

typedef size_t (*fwrite_fn)(const void*, size_t, size_t, FILE*);

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static double next_stall = -1.0;

static double now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1000.0 + (double)t.tv_nsec / 1e6;
}

static int under_folder(FILE* stream, const char* folder) {
  char link[64], target[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fileno(stream));
  const ssize_t length = readlink(link, target, sizeof target - 1);
  if (length <= 0) return 0;
  target[length] = '\0';
  return strncmp(target, folder, strlen(folder)) == 0;
}

size_t fwrite(const void* data, size_t size, size_t count, FILE* stream) {
  static fwrite_fn real = NULL;
  if (!real) {
    /* POSIX guarantees a function's address survives the trip through void*. */
    void* symbol = dlsym(RTLD_NEXT, "fwrite");
    memcpy(&real, &symbol, sizeof real);
  }
  const char* spec = getenv("QUILLON_SLOW_WRITES");
  const char* folder = getenv("QUILLON_SLOW_WRITES_UNDER");
  double stall_ms = 0.0, every_ms = 0.0;
  if (spec && folder && *folder && sscanf(spec, "%lf:%lf", &stall_ms, &every_ms) == 2 &&
      under_folder(stream, folder)) {
    double sleep_ms = 0.0;
    pthread_mutex_lock(&lock);
    const double now = now_ms();
    if (next_stall < 0.0) {
      next_stall = now + every_ms;
    } else if (now >= next_stall) {
      sleep_ms = stall_ms;
      next_stall = now + stall_ms + every_ms;
    }
    pthread_mutex_unlock(&lock);
    if (sleep_ms > 0.0) {
      fprintf(stderr, "slow_writes: stalling a write for %.0f ms\n", sleep_ms);
      usleep((useconds_t)(sleep_ms * 1000.0));
    }
  }
  return real(data, size, count, stream);
}
