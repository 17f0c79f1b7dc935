// On Windows the record is laid out as the platform's wide strings are:
// 260 UTF-16 code units per path, then the 32-bit flag.
#include <cstddef>

#include "console_threads.h"

static_assert(sizeof(WCHAR) == 2);
static_assert(offsetof(ThreadParams, searchPattern) == 0);
static_assert(offsetof(ThreadParams, testFilePath) == 520);
static_assert(offsetof(ThreadParams, deleteFilePath) == 1040);
static_assert(offsetof(ThreadParams, stop) == 1560);
static_assert(sizeof(ThreadParams) == 1564);
