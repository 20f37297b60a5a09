# 32-bit x86 on this x86-64 host: the native compilers with -m32 and Debian's i386 multiarch
# libraries (libtirpc-dev:i386, libgtest-dev:i386). The tests run under RT_I686_EMULATOR,
# qemu-i386 unless set empty: the emulator works whether or not the kernel runs 32-bit
# programs itself, and tools/test-i686.sh sets it empty where the kernel does.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(RT_I686_EMULATOR qemu-i386 CACHE STRING "runs the 32-bit test programs; empty: run them natively")
if(RT_I686_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RT_I686_EMULATOR})
endif()
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_SYSTEM_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)
