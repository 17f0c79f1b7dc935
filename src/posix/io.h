// The part of the Windows C runtime's <io.h> that console_threads uses, for
// POSIX systems. A POSIX stream has no text mode: every byte read is the byte
// that arrived, so a stream is always in what Windows calls binary mode, and
// setting that mode changes nothing. (On Windows _O_BINARY comes from
// <fcntl.h>; here it comes with the function it is for.)
#pragma once

#include <stdio.h>

// NOLINTBEGIN(bugprone-reserved-identifier): the C runtime's own names
#define _O_BINARY 0x8000

inline int _fileno(FILE* stream) { return fileno(stream); }

// Returns the mode the stream had, as on Windows: binary.
inline int _setmode(int /*descriptor*/, int /*mode*/) { return _O_BINARY; }
// NOLINTEND(bugprone-reserved-identifier)
