# Read by cpack before it makes the release ZIP. Its entries carry the
# commit's time (or SOURCE_DATE_EPOCH's, where that is set), not the build's,
# and in UTC, so that one commit always gives the same bytes.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${CPACK_BUILDINFO_SOURCE_DIR}
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT epoch MATCHES "^[0-9]+$")
    set(epoch 315532800)  # no commit to go by: 1980-01-01, the ZIP format's first day
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})  # cpack reads the entries' time from here
endif()
set(ENV{TZ} UTC0)  # ZIP times are local
