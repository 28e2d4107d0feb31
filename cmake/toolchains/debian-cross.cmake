# What the Debian cross toolchains share; included by the file of each target
# after it has set glyphfall_triple. The programs are linked statically so they
# run without the target's C library installed: directly where the processor
# runs them, otherwise under CMAKE_CROSSCOMPILING_EMULATOR, which ctest and
# the tests put in front of every run of a target program.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${glyphfall_triple}-gcc)
set(CMAKE_CXX_COMPILER ${glyphfall_triple}-g++)
set(GLYPHFALL_STATIC ON CACHE BOOL "Link the programs statically")

set(CMAKE_FIND_ROOT_PATH /usr/${glyphfall_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# In the cache as well, where the release script finds what runs the program.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CROSSCOMPILING_EMULATOR}" CACHE FILEPATH "What runs the target's programs here" FORCE)
