# Build flags for what ships: the hardening Debian expects of a package, and
# no build path in the binary, in every optimised build (Release,
# RelWithDebInfo, MinSizeRel). Debug builds are for debugging and the
# sanitizers, which do their own checking; _FORTIFY_SOURCE needs optimisation.
#
# The environment's flags come first on the command line and ours after them:
# CMake reads CXXFLAGS and LDFLAGS at the first configure, and CPPFLAGS, which
# it does not read, are taken here the same way, so `dpkg-buildflags` reaches
# the build whole.
include(CheckCXXCompilerFlag)

# Static programs run on any Linux of their processor, the cross builds' without
# the target's C library; the release programs are static too.
option(GLYPHFALL_STATIC "Link the programs statically (a static PIE where the target has one)" OFF)
set(glyphfall_static -static)

option(GLYPHFALL_HARDENING "Harden the optimised builds (PIE, RELRO, stack protector, fortify, ...)" ON)
set(GLYPHFALL_CPPFLAGS "$ENV{CPPFLAGS}" CACHE STRING "Preprocessor flags (the environment's CPPFLAGS at the first configure)")
separate_arguments(cppflags UNIX_COMMAND "${GLYPHFALL_CPPFLAGS}")
add_compile_options(${cppflags})

string(TOUPPER "${CMAKE_BUILD_TYPE}" build_type)
set(GLYPHFALL_OPTIMISED OFF)
if(build_type MATCHES "^(RELEASE|RELWITHDEBINFO|MINSIZEREL)$")
  set(GLYPHFALL_OPTIMISED ON)
endif()
# A Debian package builds with the type None and the optimisation of
# dpkg-buildflags: -O2, or -O0 under DEB_BUILD_OPTIONS=noopt.
if(build_type STREQUAL "NONE" AND " ${CMAKE_CXX_FLAGS} " MATCHES " -O([1-3s]|fast)? ")
  set(GLYPHFALL_OPTIMISED ON)
endif()
set(GLYPHFALL_HARDENED OFF)
if(GLYPHFALL_HARDENING AND GLYPHFALL_OPTIMISED AND NOT GLYPHFALL_SANITIZE)
  set(GLYPHFALL_HARDENED ON)
endif()

# Two builds of the same sources in different folders give the same bytes, and
# the debug information names files relative to the source tree. The build
# folder is listed last so that it wins when it lies inside the source tree.
if(GLYPHFALL_OPTIMISED)
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)
endif()

if(GLYPHFALL_HARDENED)
  # PIE for everything, the static library included (CMake would give it
  # -fPIC, which costs calls between its functions). With -static the
  # compilers build a static executable without PIE; a static PIE needs
  # -static-pie (GLYPHFALL_STATIC, below).
  add_compile_options(-fPIE)
  add_link_options(-pie LINKER:-z,relro LINKER:-z,now)
  add_compile_options(-fstack-protector-strong)

  # Not every target has these: stack clash protection is missing on some,
  # control-flow protection is -fcf-protection on x86 and
  # -mbranch-protection on 64-bit ARM. Checked with -Werror: clang only warns
  # of a flag that its target ignores.
  set(CMAKE_REQUIRED_FLAGS -Werror)
  foreach(flag -fstack-clash-protection -fcf-protection -mbranch-protection=standard)
    string(MAKE_C_IDENTIFIER "GLYPHFALL_HAS${flag}" supported)
    check_cxx_compiler_flag(${flag} ${supported})
    if(${supported})
      add_compile_options(${flag})
    endif()
  endforeach()
  unset(CMAKE_REQUIRED_FLAGS)

  # A static program is a static PIE where the target's C library has the
  # start file for one (rcrt1.o), and a plain static program elsewhere or
  # where the linker flags already hold -static: with both, the program
  # starts with the wrong start file and crashes.
  if(GLYPHFALL_STATIC AND NOT " ${CMAKE_EXE_LINKER_FLAGS} " MATCHES " -static ")
    include(CheckLinkerFlag)
    set(CMAKE_REQUIRED_FLAGS -fPIE)
    check_linker_flag(CXX -static-pie GLYPHFALL_HAS_static_pie)
    unset(CMAKE_REQUIRED_FLAGS)
    if(GLYPHFALL_HAS_static_pie)
      set(glyphfall_static -static-pie)
    endif()
  endif()

  # A level the environment chose is kept. Some compilers define their own
  # level when optimising; ours replaces it without a redefinition warning.
  if(NOT "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${build_type}} ${GLYPHFALL_CPPFLAGS}" MATCHES "_FORTIFY_SOURCE")
    add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2)
  endif()
endif()

if(GLYPHFALL_STATIC)
  add_link_options(${glyphfall_static})
endif()
