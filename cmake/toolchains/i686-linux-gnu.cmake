# 32-bit x86, whose floating-point unit is the x87; an amd64 machine runs it.
set(glyphfall_triple i686-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
