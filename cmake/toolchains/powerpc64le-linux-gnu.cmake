# 64-bit POWER, little-endian, where char is unsigned; run under qemu-user.
set(glyphfall_triple powerpc64le-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
