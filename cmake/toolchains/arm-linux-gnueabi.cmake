# 32-bit ARM, soft float (floating point in software calls), where char is
# unsigned; run under qemu-user.
set(glyphfall_triple arm-linux-gnueabi)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
