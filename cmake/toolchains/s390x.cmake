# s390x, 64-bit big-endian: Debian's cross compiler, the libraries unpacked by
# tools/sysroot.sh s390x into RT_SYSROOT (default: the checkout's build-s390x-sysroot), and the
# tests run under qemu-s390x. Built without the sanitizers: ASan's s390x shadow memory cannot be
# reserved under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
# Kept in the environment too: the compiler checks read this file again without the cache.
if(RT_SYSROOT)
  set(ENV{RT_SYSROOT} ${RT_SYSROOT})
elseif(DEFINED ENV{RT_SYSROOT})
  set(RT_SYSROOT $ENV{RT_SYSROOT})
else()
  get_filename_component(RT_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/../../build-s390x-sysroot ABSOLUTE)
  set(ENV{RT_SYSROOT} ${RT_SYSROOT})
endif()
set(libs ${RT_SYSROOT}/usr/lib/s390x-linux-gnu:${RT_SYSROOT}/lib/s390x-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${RT_SYSROOT} /usr/s390x-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${libs}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-rpath-link,${libs}")
set(ENV{PKG_CONFIG_LIBDIR} ${RT_SYSROOT}/usr/lib/s390x-linux-gnu/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${RT_SYSROOT})
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x -L /usr/s390x-linux-gnu -E LD_LIBRARY_PATH=${libs})
