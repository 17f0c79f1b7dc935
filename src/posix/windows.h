// The part of the Windows API that console_threads uses, for POSIX systems.
//
// The program is Windows code; on other systems this header and kernel32.cpp
// stand in for <windows.h> and KERNEL32.dll. They hold what the program calls,
// with the semantics it relies on, and refuse the rest:
//   CreateThread            a handle to a running thread, or null if none was
//                           started; no attributes, stack size, flags or id;
//   WaitForMultipleObjects  waits, with no time-out, for all of the threads;
//   CloseHandle             releases a handle, whether or not its thread still runs;
//   ExitProcess             ends the process, every thread in it, at once.
// Each handle is used by one thread at a time, as the program's main thread does.
// As in a Windows process, a write to a pipe whose reader has gone fails
// rather than ending the process.
// Wide strings are the platform's wchar_t, so the C library's wcscpy and
// wcscat work on them unchanged.
#pragma once

#include <stddef.h>
#include <stdint.h>

using BOOL = int;
using UINT = unsigned int;
using DWORD = uint32_t;
using WCHAR = wchar_t;
using LPVOID = void*;
using HANDLE = void*;

// Thread attributes carry Windows security descriptors, which mean nothing
// here; the type exists so that calls keep their Windows shape.
using LPSECURITY_ATTRIBUTES = struct SECURITY_ATTRIBUTES*;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_FAILED 0xFFFFFFFFu

using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID);

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES threadAttributes, size_t stackSize,
                           LPTHREAD_START_ROUTINE startAddress, LPVOID parameter,
                           DWORD creationFlags, DWORD* threadId);
DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms);
BOOL WINAPI CloseHandle(HANDLE object);
[[noreturn]] void WINAPI ExitProcess(UINT exitCode);
