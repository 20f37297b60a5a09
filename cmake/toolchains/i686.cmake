# 32-bit x86 on this x86-64 host: the native compilers with -m32 (g++-12-multilib brings their
# 32-bit C and C++ libraries and sanitizer runtimes) and the target's other libraries (libtirpc,
# GoogleTest) from RT_SYSROOT, Debian's i386 packages unpacked by tools/sysroot.sh (default: the
# checkout's build-i686-sysroot). The programs find those libraries through their run path. The
# tests run under RT_I686_EMULATOR, qemu-i386 unless set empty: the emulator works whether or
# not the kernel runs 32-bit programs itself, and tools/test-i686.sh sets it empty where the
# kernel does.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(RT_I686_EMULATOR qemu-i386 CACHE STRING "runs the 32-bit test programs; empty: run them natively")
if(RT_I686_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RT_I686_EMULATOR})
endif()
# Kept in the environment too: the compiler checks read this file again without the cache.
if(RT_SYSROOT)
  set(ENV{RT_SYSROOT} ${RT_SYSROOT})
elseif(DEFINED ENV{RT_SYSROOT})
  set(RT_SYSROOT $ENV{RT_SYSROOT})
else()
  get_filename_component(RT_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/../../build-i686-sysroot ABSOLUTE)
  set(ENV{RT_SYSROOT} ${RT_SYSROOT})
endif()
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# The C library's 32-bit headers come with the compiler; the kernel's (asm/) from the sysroot.
set(CMAKE_C_FLAGS_INIT "-m32 -idirafter ${RT_SYSROOT}/usr/include/i386-linux-gnu")
set(CMAKE_CXX_FLAGS_INIT "-m32 -idirafter ${RT_SYSROOT}/usr/include/i386-linux-gnu")
set(libs ${RT_SYSROOT}/usr/lib/i386-linux-gnu:${RT_SYSROOT}/lib/i386-linux-gnu)
# DT_RPATH rather than DT_RUNPATH: it serves the libraries' own dependencies (libtirpc's Kerberos
# libraries) and the modules the shell loads, too.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -Wl,--disable-new-dtags -Wl,-rpath,${libs} -Wl,-rpath-link,${libs}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32 -Wl,--disable-new-dtags -Wl,-rpath,${libs} -Wl,-rpath-link,${libs}")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${RT_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_SYSTEM_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} ${RT_SYSROOT}/usr/lib/i386-linux-gnu/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${RT_SYSROOT})
