#!/bin/sh
# Fails when a tracked C or C++ file is not as .clang-format would write it.
#     check_format.sh CLANG_FORMAT
set -e
cd "$(dirname "$0")/.."
files=$(git ls-files '*.c' '*.cpp' '*.h' 2>/dev/null) ||
  files=$(find src tests bench -name '*.c' -o -name '*.cpp' -o -name '*.h')
# shellcheck disable=SC2086 # one word per file; no file name has a space
"$1" --dry-run --Werror $files
