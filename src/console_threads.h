// The work record that the console controller shares with its four workers,
// and the routines that work on it.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

// Built by main in its own frame before any worker starts; its address is
// every worker's start argument. After the workers start, only stop changes:
// main stores it once, the workers load it on every pass.
struct ThreadParams {
  WCHAR searchPattern[MAX_PATH];   // "C:\New\*.xxx"
  WCHAR testFilePath[MAX_PATH];    // "C:\New\Test.xxx"
  WCHAR deleteFilePath[MAX_PATH];  // "C:\New\Delete.xxx"
  std::atomic<std::int32_t> stop;  // 0: run; anything else: end
};

static_assert(sizeof(ThreadParams) == sizeof(WCHAR) * 3 * MAX_PATH + sizeof(std::int32_t),
              "the record is three path buffers and a 32-bit flag, with no padding");
static_assert(std::atomic<std::int32_t>::is_always_lock_free);

// Fills the three paths: the working folder followed by each name.
void ComposePaths(ThreadParams* params);

// The worker routines, started in this order. Each spins on params->stop
// until it is non-zero and then returns 0.
DWORD WINAPI CreateFileTest(LPVOID params);
DWORD WINAPI EnumFolderContent(LPVOID params);
DWORD WINAPI RenameFile(LPVOID params);
DWORD WINAPI DelFile(LPVOID params);
