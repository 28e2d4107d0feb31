# 32-bit x86, whose floating-point unit is the x87. An amd64 kernel runs its
# programs unless it was built without IA32 emulation, as some distributions
# and virtual machines are; there qemu-i386 runs them, as qemu-user runs the
# other targets. GLYPHFALL_I386_QEMU=1 in the environment asks for qemu-i386
# even where the kernel would do, so that both ways can be tried anywhere.
set(glyphfall_triple i686-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)

# Decided once a configure (CMake reads this file more than once, and hands
# the answer to its trial builds), by running a tiny static program.
if(NOT DEFINED GLYPHFALL_I386_RUNNER)
  if("$ENV{GLYPHFALL_I386_QEMU}" STREQUAL "1")
    set(GLYPHFALL_I386_RUNNER /usr/bin/qemu-i386)
    set(why "GLYPHFALL_I386_QEMU=1 asks for it")
  else()
    set(probe ${CMAKE_BINARY_DIR}/CMakeFiles/i386-probe)
    file(WRITE ${probe}.c "int main(void) { return 7; }\n")
    execute_process(COMMAND ${glyphfall_triple}-gcc -static -o ${probe} ${probe}.c RESULT_VARIABLE built
                    ERROR_VARIABLE why ERROR_STRIP_TRAILING_WHITESPACE)
    if(NOT built EQUAL 0)
      message(FATAL_ERROR "${glyphfall_triple}-gcc cannot build a static program: ${why}")
    endif()
    # Where the kernel refuses the file, the shell is handed it instead and
    # fails on it, so only the exit status tells.
    execute_process(COMMAND ${probe} RESULT_VARIABLE ran OUTPUT_QUIET ERROR_QUIET)
    if(ran STREQUAL "7")
      set(GLYPHFALL_I386_RUNNER kernel)
      set(why "this kernel runs them")
    else()
      set(GLYPHFALL_I386_RUNNER /usr/bin/qemu-i386)
      set(why "this kernel does not run them (a static i386 program that exits with 7 gave ${ran})")
    endif()
  endif()
  if(GLYPHFALL_I386_RUNNER STREQUAL "kernel")
    message(STATUS "i386 programs run natively: ${why}")
  else()
    message(STATUS "i386 programs run under ${GLYPHFALL_I386_RUNNER}: ${why}")
  endif()
  list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES GLYPHFALL_I386_RUNNER)
endif()
if(NOT GLYPHFALL_I386_RUNNER STREQUAL "kernel")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${GLYPHFALL_I386_RUNNER})
endif()
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
