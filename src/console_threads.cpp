// A console program that keeps four worker threads spinning until the person
// at the console types 5 and presses Enter.
//
// Exit status: 1 after an orderly stop; 5 when standard input ends (or fails)
// before a 5; 4, 1, 2 or 3 when the first, second, third or fourth worker
// cannot be started.

// stdio.h comes before every C++ header. The Windows build asks mingw for the
// C runtime's own printf; libstdc++'s configuration overrides that request,
// so stdio.h must be read first.
#include <stdio.h>

#include <fcntl.h>
#include <io.h>
#include <wchar.h>

#include "console_threads.h"

namespace {

// Each held, as the record's paths are, in a buffer MAX_PATH units wide.
const WCHAR workingFolder[MAX_PATH] = L"C:\\New\\";
const WCHAR testFileName[MAX_PATH] = L"Test.xxx";
const WCHAR deleteFileName[MAX_PATH] = L"Delete.xxx";
const WCHAR searchSuffix[] = L"*.xxx";

const char prompt[] = "Stop the infinite looooooooooop entering 5 and pressing Enter \n>>>> ";
const int stopKey = '5';

// The status to end with when the worker at each start position cannot be
// started. The first is 4, not 0, so that its failure is never read as success.
const UINT startFailureStatus[] = {4, 1, 2, 3};
const int stoppedByKey = 1;
const int stoppedByEndOfInput = 5;

DWORD SpinUntilStopped(LPVOID params) {
  const auto* record = static_cast<const ThreadParams*>(params);
  while (record->stop.load(std::memory_order_acquire) == 0) {
  }
  return 0;
}

}  // namespace

void ComposePaths(ThreadParams* params) {
  wcscpy(params->testFilePath, L"");
  wcscat(params->testFilePath, workingFolder);
  wcscat(params->testFilePath, testFileName);

  wcscpy(params->deleteFilePath, L"");
  wcscat(params->deleteFilePath, workingFolder);
  wcscat(params->deleteFilePath, deleteFileName);

  wcscpy(params->searchPattern, L"");
  wcscat(params->searchPattern, workingFolder);
  wcscat(params->searchPattern, searchSuffix);
}

DWORD WINAPI CreateFileTest(LPVOID params) { return SpinUntilStopped(params); }
DWORD WINAPI EnumFolderContent(LPVOID params) { return SpinUntilStopped(params); }
DWORD WINAPI RenameFile(LPVOID params) { return SpinUntilStopped(params); }
DWORD WINAPI DelFile(LPVOID params) { return SpinUntilStopped(params); }

int main(int /*argc*/, char* /*argv*/[]) {
  ThreadParams params;
  ComposePaths(&params);
  params.stop.store(0, std::memory_order_release);

  // Flushed at once: whoever drives the program through a pipe waits for the
  // prompt before typing, also when a worker then fails to start.
  printf("%s", prompt);
  fflush(stdout);

  const LPTHREAD_START_ROUTINE routines[] = {CreateFileTest, EnumFolderContent, RenameFile,
                                             DelFile};
  const DWORD workerCount = sizeof routines / sizeof routines[0];
  static_assert(sizeof startFailureStatus / sizeof startFailureStatus[0] == workerCount);
  HANDLE threads[workerCount] = {};
  for (DWORD i = 0; i < workerCount; ++i) {
    threads[i] = CreateThread(nullptr, 0, routines[i], &params, 0, nullptr);
    if (threads[i] == nullptr) {
      // The workers already started are left spinning: ending the process
      // ends them too.
      ExitProcess(startFailureStatus[i]);
    }
  }

  // Binary mode: every byte reaches getchar as soon as it arrives. In text
  // mode the C runtime, finding a CR at the end of what has arrived, waits
  // for the next byte to see whether a LF follows, and holds back all it read
  // with it, a 5 included, while the input stays open.
  _setmode(_fileno(stdin), _O_BINARY);

  // Everything before the stop key is discarded. An input that ends, or
  // fails, before it stops the workers the same way, so no run can be left
  // spinning with nobody to stop it.
  int key = 0;
  do {
    key = getchar();
  } while (key != stopKey && key != EOF);

  params.stop.store(1, std::memory_order_release);
  WaitForMultipleObjects(workerCount, threads, TRUE, INFINITE);
  for (HANDLE thread : threads) {
    CloseHandle(thread);
  }
  return key == stopKey ? stoppedByKey : stoppedByEndOfInput;
}
