# Run by CPack on its staging tree before packing: gzip the manual pages with
# no name or time stamp inside (-n), so the package stays reproducible.
file(GLOB_RECURSE pages LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man*/*.[0-9]")
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf -- "${page}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${page}")
  endif()
endforeach()
