// KERNEL32's thread services over POSIX threads, for the POSIX build.
//
// Plain POSIX.1-2008 and the C library, nothing from the C++ runtime but what
// its headers inline: the program then loads no C++ library, which would
// double its resident memory and slow its start.
#include <windows.h>

#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <new>

// A Windows process is never killed for writing to a pipe whose reader has
// gone: the write fails and the program goes on to its ordinary end. A POSIX
// process gets SIGPIPE, which ends it by default; ignored, the write fails
// with EPIPE instead. Set as the program is loaded, before main, as the
// platform's own start-up would: the program links this file always.
[[maybe_unused]] static const bool brokenPipeFailsTheWrite = signal(SIGPIPE, SIG_IGN) != SIG_ERR;

// One started thread. It has two owners, its handle and the running thread,
// and whichever lets go last frees it: a handle may be closed while its
// thread still runs, and a thread may end long before its handle is closed.
struct StartedThread {
  LPTHREAD_START_ROUTINE routine;
  LPVOID parameter;
  pthread_t id;
  std::atomic<int> owners;
  bool joined;  // only the handle's user reads and writes it
};

static void Release(StartedThread* thread) {
  if (thread->owners.fetch_sub(1) == 1) free(thread);  // nothing in it needs destroying
}

static void* Run(void* argument) {
  auto* thread = static_cast<StartedThread*>(argument);
  thread->routine(thread->parameter);
  Release(thread);
  return nullptr;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES threadAttributes, size_t stackSize,
                           LPTHREAD_START_ROUTINE startAddress, LPVOID parameter,
                           DWORD creationFlags, DWORD* threadId) {
  // Only a thread that starts at once with the defaults, as the program asks.
  if (threadAttributes || stackSize || !startAddress || creationFlags || threadId) return nullptr;
  void* memory = malloc(sizeof(StartedThread));
  if (memory == nullptr) return nullptr;
  auto* thread = new (memory) StartedThread{startAddress, parameter, {}, {2}, false};
  if (pthread_create(&thread->id, nullptr, Run, thread) == 0) return thread;
  free(memory);
  return nullptr;
}

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms) {
  // Only an unbounded wait for all of the threads, as the program asks.
  if (count == 0 || handles == nullptr || !waitAll || ms != INFINITE) return WAIT_FAILED;
  if (std::find(handles, handles + count, nullptr) != handles + count) return WAIT_FAILED;
  // Each thread is joined once; a later wait finds it joined.
  for (DWORD i = 0; i < count; ++i) {
    auto* thread = static_cast<StartedThread*>(handles[i]);
    if (!thread->joined) pthread_join(thread->id, nullptr);
    thread->joined = true;
  }
  return WAIT_OBJECT_0;
}

BOOL WINAPI CloseHandle(HANDLE object) {
  auto* thread = static_cast<StartedThread*>(object);
  if (thread == nullptr) return FALSE;
  // A thread not joined may still run: detached, it reaps itself as it ends.
  if (!thread->joined) pthread_detach(thread->id);
  Release(thread);
  return TRUE;
}

void WINAPI ExitProcess(UINT exitCode) {
  // _exit, not exit: other threads may still be running, and exit would run
  // static destructors under them. Buffered output is not lost, though.
  fflush(nullptr);
  _exit(static_cast<int>(exitCode));
}
