// The work record, the worker routines and the thread services they run on,
// used as the program uses them. These run on both builds: on Windows against
// KERNEL32 itself, elsewhere against our stand-in, so the stand-in is held to
// what Windows does.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>

#include "console_threads.h"

namespace {

const LPTHREAD_START_ROUTINE workers[] = {CreateFileTest, EnumFolderContent, RenameFile, DelFile};

// The record, field by field (its flag is an atomic, not plain bytes), each
// path buffer whole.
std::wstring ContentsOf(const ThreadParams& params) {
  return std::wstring(params.searchPattern, MAX_PATH) +
         std::wstring(params.testFilePath, MAX_PATH) +
         std::wstring(params.deleteFilePath, MAX_PATH) + std::to_wstring(params.stop.load());
}

TEST(ComposePaths, JoinsTheWorkingFolderWithEachName) {
  ThreadParams params;
  // None of what the buffers held before may leak into the paths.
  for (WCHAR* path : {params.searchPattern, params.testFilePath, params.deleteFilePath}) {
    std::fill_n(path, MAX_PATH, L'Z');
  }
  for (int run = 0; run < 2; ++run) {  // the same paths every time
    ComposePaths(&params);
    EXPECT_EQ(std::wstring(params.searchPattern), L"C:\\New\\*.xxx");
    EXPECT_EQ(std::wstring(params.testFilePath), L"C:\\New\\Test.xxx");
    EXPECT_EQ(std::wstring(params.deleteFilePath), L"C:\\New\\Delete.xxx");
  }
}

TEST(Workers, EndAtOnceOnAnyNonZeroStopAndLeaveTheRecordAlone) {
  for (const std::int32_t stop : {1, 2, -1, std::numeric_limits<std::int32_t>::min(),
                                  std::numeric_limits<std::int32_t>::max()}) {
    for (const LPTHREAD_START_ROUTINE worker : workers) {
      ThreadParams params{};
      ComposePaths(&params);
      params.stop = stop;
      const std::wstring before = ContentsOf(params);

      EXPECT_EQ(worker(&params), 0u) << "stop = " << stop;
      EXPECT_EQ(ContentsOf(params), before) << "stop = " << stop;
    }
  }
}

// As the program runs them: started, stopped, waited for, their handles closed.
TEST(ThreadServices, RunStopWaitAndClose) {
  ThreadParams params;
  ComposePaths(&params);
  params.stop = 0;
  HANDLE threads[4] = {};
  for (int i = 0; i < 4; ++i) {
    threads[i] = CreateThread(nullptr, 0, workers[i], &params, 0, nullptr);
    ASSERT_NE(threads[i], nullptr);
  }
  params.stop = 1;
  EXPECT_EQ(WaitForMultipleObjects(4, threads, TRUE, INFINITE), WAIT_OBJECT_0);
  for (HANDLE thread : threads) {
    EXPECT_TRUE(CloseHandle(thread));
  }
}

std::atomic<bool> spinnerEnded{false};
DWORD WINAPI SpinThenTellItEnded(LPVOID params) {
  const DWORD code = CreateFileTest(params);
  spinnerEnded = true;
  return code;
}

// The worker spins while stop is 0, also once its handle is closed, and ends
// when it is set.
TEST(ThreadServices, AHandleClosedWhileItsThreadSpinsLetsItSpinOn) {
  static ThreadParams record;  // the thread may outlive this frame
  record.stop = 0;
  spinnerEnded = false;  // as a repeated test finds it
  HANDLE thread = CreateThread(nullptr, 0, SpinThenTellItEnded, &record, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(CloseHandle(thread));  // at once, not when the thread ends
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(spinnerEnded);
  record.stop = 1;
  while (!spinnerEnded) {
    std::this_thread::yield();  // the test's own time-out bounds this
  }
}

}  // namespace
