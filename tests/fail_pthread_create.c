// Preloaded into a program to make one of its thread starts fail.
// FAIL_PTHREAD_CREATE_AT=N makes call N of pthread_create (counting from 0)
// fail with EAGAIN, as when the system is out of threads; the other calls
// go through to the real one.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdlib.h>

typedef int CreateFunction(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);

int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*start)(void *),
                   void *argument) {
  static atomic_int calls;
  const char *failAt = getenv("FAIL_PTHREAD_CREATE_AT");
  if (failAt != NULL && atoi(failAt) == atomic_fetch_add(&calls, 1)) {
    return EAGAIN;
  }
  CreateFunction *real;
  *(void **)&real = dlsym(RTLD_NEXT, "pthread_create");
  return real(thread, attributes, start, argument);
}
