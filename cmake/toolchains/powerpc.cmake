# 32-bit big-endian PowerPC, the modules' target, compiled with Debian's cross compiler.
#
# With RT_POWERPC_LIBS, the prefix that tools/powerpc-libs.sh fills (libtirpc or its stand-in,
# GoogleTest), everything builds and the tests run under qemu-ppc. Without it pkg-config finds
# only libtirpc's headers (the same text for every architecture, from libtirpc-dev): the
# modules' objects compile, nothing links to the library.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)
set(CMAKE_C_COMPILER powerpc-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER powerpc-linux-gnu-g++)
# Kept in the environment too: the compiler checks read this file again without the cache.
if(RT_POWERPC_LIBS)
  set(ENV{RT_POWERPC_LIBS} ${RT_POWERPC_LIBS})
else()
  set(RT_POWERPC_LIBS $ENV{RT_POWERPC_LIBS})
endif()
set(CMAKE_FIND_ROOT_PATH /usr/powerpc-linux-gnu ${RT_POWERPC_LIBS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
if(NOT RT_POWERPC_LIBS)
  set(ENV{PKG_CONFIG_LIBDIR} ${CMAKE_CURRENT_LIST_DIR}/powerpc-pkgconfig)
  return()
endif()
set(ENV{PKG_CONFIG_LIBDIR} ${RT_POWERPC_LIBS}/lib/pkgconfig)
# AddressSanitizer's runtime here needs libatomic and one 8-byte routine besides; a program
# built without it takes neither.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--as-needed ${RT_POWERPC_LIBS}/lib/libasanatomic8.a -latomic -Wl,--no-as-needed")
# The guest's address space is kept below 3 GiB (-R). AddressSanitizer takes the top GiB for the
# kernel's (the emulated machine is not a 64-bit one) and shadows memory only up to 0xbfffffff;
# qemu-user, once the room below its first mappings is used up, maps from the top of its space
# down. With the whole 4 GiB, a block mapped up there (a 32 MiB test buffer, after some hundreds of
# MiB in use) failed AddressSanitizer's CHECK that the address is in memory, and its shadow would
# have lain over the libraries and the stack. 64 KiB short of 3 GiB: freeing a block that ends
# exactly at 0xc0000000 fails the same CHECK on the block's end.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-ppc -R 0xbfff0000 -L /usr/powerpc-linux-gnu
    -E LD_LIBRARY_PATH=${RT_POWERPC_LIBS}/lib)
