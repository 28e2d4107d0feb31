# `make package`: a Debian package of what `install` puts in place, under /usr
# (the DEB generator's own prefix), laid out as Debian wants a game.
set(CPACK_GENERATOR DEB)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME glyphfall)
set(CPACK_PACKAGE_VENDOR "glyphfall developers")
set(CPACK_PACKAGE_CONTACT "glyphfall developers <dev@glyphfall.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://glyphfall.org")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "characters falling like rain in a text terminal")
# Debian wants the long description wrapped at 80 columns.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
       "A full-screen animation for a text terminal: columns of characters rain"
       "down the screen, each drop a white head followed by a trail that fades"
       "through four greens to grey, while the characters flicker at random."
       "Drop density, rate of changes, speed, a black background and the random"
       "seed are set on the command line; the same seed and terminal size give"
       "the same picture on every run."
       "It needs a terminal with 256 colours and automatic margins.")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# The program moved to /usr/games, manual pages gzipped, the copyright and
# changelog added; `make install` leaves its tree as it is.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/package-tree.cmake)
set(CPACK_GLYPHFALL_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_GLYPHFALL_STRIP ${CMAKE_STRIP})
# Time stamps from SOURCE_DATE_EPOCH, set from the sources when it is unset.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/package-epoch.cmake)

# `make package_source` packs the tree without builds or history.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\.git/" "/build/")

include(CPack)
