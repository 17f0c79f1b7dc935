// The POSIX stand-in for the thread services refuses what it does not
// support, rather than doing it halfway.
#include <gtest/gtest.h>

#include "console_threads.h"

TEST(StandIn, RefusesWhatItDoesNotSupport) {
  ThreadParams params;
  params.stop = 1;
  DWORD id = 0;
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, &params, 0, nullptr), nullptr);
  EXPECT_EQ(CreateThread(nullptr, 1 << 20, DelFile, &params, 0, nullptr), nullptr);
  EXPECT_EQ(CreateThread(nullptr, 0, DelFile, &params, 4 /* suspended */, nullptr), nullptr);
  EXPECT_EQ(CreateThread(nullptr, 0, DelFile, &params, 0, &id), nullptr);

  HANDLE thread = CreateThread(nullptr, 0, DelFile, &params, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  HANDLE withNull[] = {thread, nullptr};
  EXPECT_EQ(WaitForMultipleObjects(2, withNull, TRUE, INFINITE), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(0, &thread, TRUE, INFINITE), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(1, &thread, FALSE, INFINITE), WAIT_FAILED);  // wait for any
  EXPECT_EQ(WaitForMultipleObjects(1, &thread, TRUE, 10), WAIT_FAILED);         // a time-out
  EXPECT_EQ(WaitForMultipleObjects(1, &thread, TRUE, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(1, &thread, TRUE, INFINITE), WAIT_OBJECT_0);  // ended already
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_TRUE(CloseHandle(thread));
}
