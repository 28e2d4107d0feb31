# 64-bit MIPS, little-endian, the n64 ABI; run under qemu-user.
set(glyphfall_triple mips64el-linux-gnuabi64)
set(CMAKE_SYSTEM_PROCESSOR mips64el)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-mips64el)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
