# Run by CPack on its staging tree before packing: turns what `install` put
# under /usr into what Debian expects of a game. Everything is made from the
# sources alone, with fixed permissions and no time stamps, so that the
# package is the same wherever and whenever it is built.
set(usr "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${usr}/share/doc/${CPACK_PACKAGE_NAME}")

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGV}")
  endif()
endfunction()

# Games go in /usr/games; `make install` keeps bin/ for every other prefix.
# As dh_strip does, the compiler versions in .comment go too.
file(MAKE_DIRECTORY "${usr}/games")
file(GLOB programs "${usr}/bin/*")
foreach(program IN LISTS programs)
  get_filename_component(name "${program}" NAME)
  file(RENAME "${program}" "${usr}/games/${name}")
  run(${CPACK_GLYPHFALL_STRIP} --remove-section=.comment --remove-section=.note "${usr}/games/${name}")
endforeach()
file(REMOVE_RECURSE "${usr}/bin")

# Manual pages and the changelog gzipped at the highest level, with no name or
# time stamp inside (-n); the copyright as it is.
file(GLOB_RECURSE pages LIST_DIRECTORIES false "${usr}/share/man/man*/*.[0-9]")
foreach(page IN LISTS pages)
  run(gzip -9nf -- "${page}")
endforeach()
file(MAKE_DIRECTORY "${doc}")
run(gzip -9nc -- "${CPACK_GLYPHFALL_SOURCE_DIR}/CHANGELOG" OUTPUT_FILE "${doc}/changelog.gz")
file(COPY_FILE "${CPACK_GLYPHFALL_SOURCE_DIR}/debian/copyright" "${doc}/copyright")

# The builder's umask must not show in the package.
file(CHMOD_RECURSE "${usr}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
     DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(GLOB programs "${usr}/games/*")
file(CHMOD ${programs} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
     WORLD_EXECUTE)
