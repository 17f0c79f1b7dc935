// KERNEL32's thread services over pthreads, for the POSIX build.
#include <windows.h>

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>

namespace {

// One started thread. It has two owners, the handle and the running thread
// itself, and whichever lets go last frees it: as on Windows, a handle may be
// closed while its thread still runs, and a thread may end long before its
// handle is closed.
struct Thread {
  LPTHREAD_START_ROUTINE routine;
  LPVOID parameter;
  pthread_t id{};
  bool ended = false;  // guarded by ends.mutex
  std::atomic<int> owners{2};
};

// Every thread's end is announced on the one condition variable, so that a
// wait can watch any set of threads at once. Never destroyed: a thread whose
// handle was closed may still be announcing its end while the process exits.
struct Ends {
  std::mutex mutex;
  std::condition_variable announced;
};
Ends& ends = *new Ends;
std::atomic<DWORD> lastThreadId{0};

void Release(Thread* thread) {
  if (thread->owners.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    delete thread;
  }
}

void* Run(void* argument) {
  auto* thread = static_cast<Thread*>(argument);
  thread->routine(thread->parameter);
  {
    const std::lock_guard lock(ends.mutex);
    thread->ended = true;
  }
  ends.announced.notify_all();
  Release(thread);
  return nullptr;
}

}  // namespace

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES /*threadAttributes*/, SIZE_T stackSize,
                           LPTHREAD_START_ROUTINE startAddress, LPVOID parameter,
                           DWORD creationFlags, LPDWORD threadId) {
  // Suspended starts and the other creation flags are not supported here.
  if (startAddress == nullptr || creationFlags != 0) {
    return nullptr;
  }
  auto* thread = new (std::nothrow) Thread{startAddress, parameter};
  if (thread == nullptr) {
    return nullptr;
  }
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  if (stackSize != 0) {
    pthread_attr_setstacksize(&attributes, std::max<SIZE_T>(stackSize, PTHREAD_STACK_MIN));
  }
  const int error = pthread_create(&thread->id, &attributes, Run, thread);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    delete thread;
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
  DWORD firstEnded = count;
  const auto satisfied = [&] {
    DWORD ended = 0;
    firstEnded = count;
    for (DWORD i = 0; i < count; ++i) {
      if (static_cast<const Thread*>(handles[i])->ended) {
        ++ended;
        firstEnded = std::min(firstEnded, i);
      }
    }
    return waitAll ? ended == count : ended != 0;
  };
  std::unique_lock lock(ends.mutex);
  if (milliseconds == INFINITE) {
    ends.announced.wait(lock, satisfied);
  } else if (!ends.announced.wait_for(lock, std::chrono::milliseconds(milliseconds), satisfied)) {
    return WAIT_TIMEOUT;
  }
  return WAIT_OBJECT_0 + (waitAll ? 0 : firstEnded);
}

BOOL WINAPI CloseHandle(HANDLE object) {
  auto* thread = static_cast<Thread*>(object);
  if (thread == nullptr) {
    return FALSE;
  }
  bool ended = false;
  {
    const std::lock_guard lock(ends.mutex);
    ended = thread->ended;
  }
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
  std::fflush(nullptr);
  _exit(static_cast<int>(exitCode));
}
