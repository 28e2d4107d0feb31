# 32-bit ARM, hard float, where char is unsigned; run under qemu-user.
set(glyphfall_triple arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
