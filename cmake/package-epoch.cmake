# Read by CPack before it packs. The time stamps in the package (file times,
# archive headers) come from SOURCE_DATE_EPOCH; when it is not set, it is
# taken from the last commit, or, outside a git checkout, from the newest
# entry of the changelog, so the same sources give the same package at any
# time.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "")
  if(EXISTS "${CPACK_GLYPHFALL_SOURCE_DIR}/.git")
    execute_process(COMMAND git -C "${CPACK_GLYPHFALL_SOURCE_DIR}" log -1 --format=%ct
                    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    file(STRINGS "${CPACK_GLYPHFALL_SOURCE_DIR}/CHANGELOG" trailer REGEX "^ -- " LIMIT_COUNT 1)
    string(REGEX REPLACE "^ -- .*>  " "" date "${trailer}")
    execute_process(COMMAND date -d "${date}" +%s OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "no time for the package: set SOURCE_DATE_EPOCH")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()
