# Run by cpack once it has made the release ZIP. Writes NAME.buildinfo beside
# it, in the spirit of Debian's .buildinfo: the commit and the time that the
# ZIP's entries carry, the Debian release, the exact versions of the Debian
# packages whose files made the bytes (the compiler and what it ran, linked
# and included; binutils; CMake, and zip, which writes the ZIP), and the
# SHA-256 of the .exe and of the ZIP. It holds no build time, host or path, so
# the same commit and packages give the same buildinfo.
cmake_minimum_required(VERSION 3.25)

function(run out)  # command...: its output, stripped; empty where it fails
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE output OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET RESULT_VARIABLE failed)
  if(failed)
    set(output "")
  endif()
  set(${out} "${output}" PARENT_SCOPE)
endfunction()

function(file_line out path)  # "HASH SIZE NAME" for a file, as Debian's checksums give it
  file(SHA256 ${path} hash)
  file(SIZE ${path} size)
  get_filename_component(name ${path} NAME)
  set(${out} " ${hash} ${size} ${name}" PARENT_SCOPE)
endfunction()

set(zip ${CPACK_PACKAGE_FILES})
get_filename_component(exe ${zip} DIRECTORY)
set(exe ${exe}/${CPACK_PACKAGE_FILE_NAME}/console_threads.exe)
if(NOT EXISTS ${exe})
  message(FATAL_ERROR "buildinfo: no ${exe} in cpack's staging folder")
endif()

# The files that made the bytes: the tools (the ZIP's writer among them),
# what the compiler ran and linked in, and every header that the
# program's sources include (asked of the compiler, with each source's own
# command as the build ran it, but for its output).
set(files ${CPACK_BUILDINFO_TOOLS})
list(GET CPACK_BUILDINFO_TOOLS 0 compiler)
foreach(query -print-prog-name=cc1plus -print-prog-name=as -print-prog-name=ld
        -print-libgcc-file-name -print-file-name=libstdc++.a -print-file-name=crt2.o
        -print-file-name=libmsvcrt.a -print-file-name=libkernel32.a)
  run(found ${compiler} ${query})
  list(APPEND files ${found})
endforeach()
file(READ ${CPACK_BUILDINFO_BINARY_DIR}/compile_commands.json commands)
string(JSON count LENGTH "${commands}")
math(EXPR last "${count} - 1")
foreach(index RANGE ${last})
  string(JSON command GET "${commands}" ${index} command)
  string(JSON directory GET "${commands}" ${index} directory)
  if(NOT command MATCHES " CMakeFiles/console_threads\\.dir/" OR NOT command MATCHES "\\.cpp$")
    continue()
  endif()
  string(REGEX REPLACE " -o [^ ]+" "" command "${command}")
  separate_arguments(command UNIX_COMMAND "${command}")
  set(headers ${CPACK_TOPLEVEL_DIRECTORY}/headers.d)
  execute_process(COMMAND ${command} -M -MF ${headers} WORKING_DIRECTORY ${directory}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(READ ${headers} headers)
  string(REGEX MATCHALL "/usr/[^ \t\r\n\\]+" headers "${headers}")
  list(APPEND files ${headers})
endforeach()
set(real_files)
foreach(path IN LISTS files)
  if(IS_ABSOLUTE "${path}" AND EXISTS "${path}")
    file(REAL_PATH ${path} path)
    list(APPEND real_files ${path})
    # With /usr merged, dpkg may know a library under /lib rather than /usr/lib.
    if(path MATCHES "^/usr(/(s?bin|lib[^/]*)/.*)$")
      list(APPEND real_files ${CMAKE_MATCH_1})
    endif()
  endif()
endforeach()
list(REMOVE_DUPLICATES real_files)

# Their packages, each once, with the version installed.
set(owners)
set(packages)
if(real_files)
  execute_process(COMMAND dpkg-query --search ${real_files} OUTPUT_VARIABLE lines ERROR_QUIET)
  string(REPLACE "\n" ";" lines "${lines}")
  foreach(line IN LISTS lines)  # "package[:architecture]: path"
    if(line MATCHES "^([^:, ]+(:[a-z0-9]+)?): /")
      list(APPEND owners ${CMAKE_MATCH_1})
    endif()
  endforeach()
endif()
if(owners)
  list(REMOVE_DUPLICATES owners)
  run(packages dpkg-query "--showformat=\${binary:Package} (= \${Version})\n" --show ${owners})
  string(REPLACE "\n" ";" packages "${packages}")
  list(SORT packages)
endif()
if(NOT packages)
  message(FATAL_ERROR "buildinfo: dpkg knows none of the files that built the release")
endif()
list(JOIN packages ",\n " packages)

run(commit git -C ${CPACK_BUILDINFO_SOURCE_DIR} rev-parse HEAD)
run(changes git -C ${CPACK_BUILDINFO_SOURCE_DIR} status --porcelain --untracked-files=no)
if(changes)
  string(APPEND commit " (with changes not committed)")
endif()
file(STRINGS /etc/os-release os_release REGEX "^(ID|VERSION_ID|VERSION_CODENAME)=")
foreach(line IN LISTS os_release)  # KEY=value or KEY="value"
  string(REGEX REPLACE "^([A-Z_]+)=\"?([^\"]*)\"?$" "\\1;\\2" pair "${line}")
  list(GET pair 0 key)
  list(GET pair 1 os_${key})
endforeach()
run(architecture dpkg --print-architecture)
file_line(exe_line ${exe})
file_line(zip_line ${zip})

file(WRITE ${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.buildinfo
"Format: 1.0
Source: ${CPACK_PACKAGE_NAME}
Version: ${CPACK_PACKAGE_VERSION}
Commit: ${commit}
Source-Date-Epoch: $ENV{SOURCE_DATE_EPOCH}
Build-Distribution: ${os_ID} ${os_VERSION_ID} (${os_VERSION_CODENAME})
Build-Architecture: ${architecture}
Installed-Build-Depends:
 ${packages}
Checksums-Sha256:
${exe_line}
${zip_line}
")
