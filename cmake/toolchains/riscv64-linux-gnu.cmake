# 64-bit RISC-V, where char is unsigned; run under qemu-user.
set(glyphfall_triple riscv64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
