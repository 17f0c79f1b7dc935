// KERNEL32's thread services over pthreads, for the POSIX build.
//
// Plain pthreads and the C library only, nothing from the C++ runtime: the
// program then loads no libstdc++, which would double its resident memory
// and slow its start.
#include <windows.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

namespace {

// One started thread. It has two owners, the handle and the running thread
// itself, and whichever lets go last frees it: as on Windows, a handle may be
// closed while its thread still runs, and a thread may end long before its
// handle is closed.
struct Thread {
  LPTHREAD_START_ROUTINE routine;
  LPVOID parameter;
  pthread_t id;
  bool ended;  // these two guarded by endLock
  int owners;
};

// Every thread's end is announced on the one condition variable, so that a
// wait can watch any set of threads at once. Statically initialised and never
// destroyed: a thread whose handle was closed may still be announcing its
// end while the process exits.
pthread_mutex_t endLock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t threadEnded = PTHREAD_COND_INITIALIZER;
std::atomic<DWORD> lastThreadId{0};

void Release(Thread* thread) {
  pthread_mutex_lock(&endLock);
  const bool last = --thread->owners == 0;
  pthread_mutex_unlock(&endLock);
  if (last) {
    free(thread);
  }
}

void* Run(void* argument) {
  auto* thread = static_cast<Thread*>(argument);
  thread->routine(thread->parameter);
  pthread_mutex_lock(&endLock);
  thread->ended = true;
  pthread_cond_broadcast(&threadEnded);
  pthread_mutex_unlock(&endLock);
  Release(thread);
  return nullptr;
}

timespec After(DWORD milliseconds) {
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  const long long nanoseconds = deadline.tv_nsec + (milliseconds % 1000) * 1000000LL;
  deadline.tv_sec += static_cast<time_t>(milliseconds / 1000 + nanoseconds / 1000000000);
  deadline.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
  return deadline;
}

}  // namespace

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES /*threadAttributes*/, SIZE_T stackSize,
                           LPTHREAD_START_ROUTINE startAddress, LPVOID parameter,
                           DWORD creationFlags, LPDWORD threadId) {
  // Suspended starts and the other creation flags are not supported here.
  if (startAddress == nullptr || creationFlags != 0) {
    return nullptr;
  }
  auto* thread = static_cast<Thread*>(malloc(sizeof(Thread)));
  if (thread == nullptr) {
    return nullptr;
  }
  *thread = Thread{startAddress, parameter, {}, false, 2};

  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  if (stackSize != 0) {
    pthread_attr_setstacksize(&attributes, std::max<SIZE_T>(stackSize, PTHREAD_STACK_MIN));
  }
  const int error = pthread_create(&thread->id, &attributes, Run, thread);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    free(thread);
    return nullptr;
  }
  if (threadId != nullptr) {
    *threadId = ++lastThreadId;
  }
  return thread;
}

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                    DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr ||
      std::find(handles, handles + count, nullptr) != handles + count) {
    return WAIT_FAILED;
  }
  const timespec deadline = milliseconds == INFINITE ? timespec{} : After(milliseconds);
  DWORD result = WAIT_TIMEOUT;
  pthread_mutex_lock(&endLock);
  for (;;) {
    DWORD ended = 0;
    DWORD firstEnded = count;
    for (DWORD i = 0; i < count; ++i) {
      if (static_cast<const Thread*>(handles[i])->ended) {
        ++ended;
        firstEnded = std::min(firstEnded, i);
      }
    }
    if (waitAll ? ended == count : ended != 0) {
      result = WAIT_OBJECT_0 + (waitAll ? 0 : firstEnded);
      break;
    }
    if (milliseconds == INFINITE) {
      pthread_cond_wait(&threadEnded, &endLock);
    } else if (pthread_cond_clockwait(&threadEnded, &endLock, CLOCK_MONOTONIC, &deadline) != 0) {
      break;  // timed out
    }
  }
  pthread_mutex_unlock(&endLock);
  return result;
}

BOOL WINAPI CloseHandle(HANDLE object) {
  auto* thread = static_cast<Thread*>(object);
  if (thread == nullptr) {
    return FALSE;
  }
  pthread_mutex_lock(&endLock);
  const bool ended = thread->ended;
  pthread_mutex_unlock(&endLock);
  // A thread that has ended is reaped now; one that still runs reaps itself.
  if (ended) {
    pthread_join(thread->id, nullptr);
  } else {
    pthread_detach(thread->id);
  }
  Release(thread);
  return TRUE;
}

VOID WINAPI ExitProcess(UINT exitCode) {
  // _exit, not exit: other threads may still be running, and exit would run
  // static destructors under them. Buffered output is not lost, though.
  fflush(nullptr);
  _exit(static_cast<int>(exitCode));
}
