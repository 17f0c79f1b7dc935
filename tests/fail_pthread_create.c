// Preloaded into a program to make one of its thread starts fail.
// FAIL_PTHREAD_CREATE_AT=N makes call N of pthread_create (counting from 0)
// fail with EAGAIN, as when the system is out of threads; the other calls
// go through to the real one. The build defines _GNU_SOURCE, for RTLD_NEXT.
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdlib.h>

typedef int CreateFunction(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);

static long failAt = -1;  // no call fails
static atomic_long calls;

__attribute__((constructor)) static void ReadFailAt(void) {
  // Read once, at load, before the program can have started a thread.
  const char *text = getenv("FAIL_PTHREAD_CREATE_AT");  // NOLINT(concurrency-mt-unsafe)
  char *end = NULL;
  if (text != NULL && *text != '\0') {
    const long value = strtol(text, &end, 10);
    failAt = *end == '\0' ? value : -1;
  }
}

int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*start)(void *),
                   void *argument) {
  if (atomic_fetch_add(&calls, 1) == failAt) {
    return EAGAIN;
  }
  CreateFunction *real = NULL;
  *(void **)&real = dlsym(RTLD_NEXT, "pthread_create");
  return real(thread, attributes, start, argument);
}
