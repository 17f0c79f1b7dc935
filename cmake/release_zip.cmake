# Run by cpack once it has made the release ZIP, before the buildinfo and the
# checksum are written. cpack adds a folder's files in the order that the file
# system happens to list them, and records the owner of each; this writes the
# ZIP again from the same staged files, with Info-ZIP's zip, so that its bytes
# depend on nothing but the files themselves:
# - the entries sorted by name, whatever order the file system lists them in;
# - no owner, group or extra time fields (-X), and no folder entries (-D):
#   an unpacker makes the folder;
# - each entry's time the one that cmake/release_time.cmake chose, in UTC.
# zip deflates with its own code, not the system's zlib, so its output does
# not move with a zlib update either.
cmake_minimum_required(VERSION 3.25)

if(NOT CPACK_RELEASE_ZIP_COMMAND)
  message(FATAL_ERROR "release ZIP: Info-ZIP's zip writes it; install it (Debian's package zip)")
endif()

set(zip ${CPACK_PACKAGE_FILES})
get_filename_component(staging ${zip} DIRECTORY)
file(GLOB_RECURSE entries RELATIVE ${staging} ${staging}/${CPACK_PACKAGE_FILE_NAME}/*)
list(SORT entries)
file(REMOVE ${zip})
execute_process(COMMAND touch -d @$ENV{SOURCE_DATE_EPOCH} ${entries}
                WORKING_DIRECTORY ${staging} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CPACK_RELEASE_ZIP_COMMAND} -q -X -D ${zip} ${entries}
                WORKING_DIRECTORY ${staging} COMMAND_ERROR_IS_FATAL ANY)
