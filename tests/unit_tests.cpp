// The work record, the worker routines and the thread services they run on.
// These run on both builds: on Windows against KERNEL32 itself, elsewhere
// against our stand-in, so the stand-in is held to what Windows does.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "console_threads.h"

namespace {

const LPTHREAD_START_ROUTINE workers[] = {CreateFileTest, EnumFolderContent, RenameFile, DelFile};

TEST(ComposePaths, JoinsTheWorkingFolderWithEachName) {
  ThreadParams params;
  // Whatever the buffers held before must not leak into the paths.
  std::memset(static_cast<void*>(&params), 0x5A, sizeof params);
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
      ThreadParams params;
      ComposePaths(&params);
      params.stop = stop;
      ThreadParams before;
      std::memcpy(static_cast<void*>(&before), &params, sizeof params);

      EXPECT_EQ(worker(&params), 0u) << "stop = " << stop;
      EXPECT_EQ(std::memcmp(&before, &params, sizeof params), 0) << "stop = " << stop;
    }
  }
}

TEST(Workers, SpinWhileStopIsZeroAndAllEndOnceItIsSet) {
  ThreadParams params;
  ComposePaths(&params);
  params.stop = 0;
  HANDLE threads[4] = {};
  for (int i = 0; i < 4; ++i) {
    threads[i] = CreateThread(nullptr, 0, workers[i], &params, 0, nullptr);
    ASSERT_NE(threads[i], nullptr);
  }
  EXPECT_EQ(WaitForMultipleObjects(4, threads, FALSE, 200), WAIT_TIMEOUT);

  params.stop = 1;
  EXPECT_EQ(WaitForMultipleObjects(4, threads, TRUE, INFINITE), WAIT_OBJECT_0);
  for (HANDLE thread : threads) {
    EXPECT_TRUE(CloseHandle(thread));
  }
}

TEST(ThreadServices, WaitForAnyAndHandlesClosedBeforeTheirThreadEnds) {
  // Static: the thread whose handle is closed early may outlive this frame.
  static ThreadParams records[3];
  HANDLE threads[3] = {};
  for (int i = 0; i < 3; ++i) {
    records[i].stop = 0;
    threads[i] = CreateThread(nullptr, 0, CreateFileTest, &records[i], 0, nullptr);
    ASSERT_NE(threads[i], nullptr);
  }

  records[2].stop = 1;
  EXPECT_EQ(WaitForMultipleObjects(3, threads, FALSE, INFINITE), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, threads, TRUE, 50), WAIT_TIMEOUT);

  EXPECT_TRUE(CloseHandle(threads[0]));  // its thread still runs, and goes on
  records[0].stop = 1;
  records[1].stop = 1;
  EXPECT_EQ(WaitForMultipleObjects(2, threads + 1, TRUE, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(threads[1]));
  EXPECT_TRUE(CloseHandle(threads[2]));
}

}  // namespace
