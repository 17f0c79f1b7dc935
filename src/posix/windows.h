// The part of the Windows API that console_threads uses, for POSIX systems.
//
// The program is Windows code; on other systems this header and kernel32.cpp
// stand in for <windows.h> and KERNEL32.dll. Only what the program calls is
// here, with the semantics it relies on:
//   CreateThread            a handle to a running thread, or null if none was started;
//   WaitForMultipleObjects  returns when all (or any) of the threads have ended;
//   CloseHandle             releases a handle, whether or not its thread still runs;
//   ExitProcess             ends the process, every thread in it, at once.
// Wide strings are the platform's wchar_t, so the C library's wcscpy and
// wcscat work on them unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

using BOOL = int;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using LPDWORD = DWORD*;
using SIZE_T = std::size_t;
using WCHAR = wchar_t;
using VOID = void;
using LPVOID = void*;
using HANDLE = void*;

// Thread attributes carry Windows security descriptors, which mean nothing
// here; the type exists so that calls keep their Windows shape.
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID);

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES threadAttributes, SIZE_T stackSize,
                           LPTHREAD_START_ROUTINE startAddress, LPVOID parameter,
                           DWORD creationFlags, LPDWORD threadId);
DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                    DWORD milliseconds);
BOOL WINAPI CloseHandle(HANDLE object);
[[noreturn]] VOID WINAPI ExitProcess(UINT exitCode);
