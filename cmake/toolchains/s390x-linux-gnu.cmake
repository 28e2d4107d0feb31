# 64-bit IBM Z, big-endian, where char is unsigned; run under qemu-user.
set(glyphfall_triple s390x-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
