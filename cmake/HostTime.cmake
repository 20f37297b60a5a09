# File offsets and time on 32-bit hosts.
#
# Every target gets 64-bit file offsets, so that the host pass-through device handles files
# over 4 GiB. 64-bit time_t goes only to the code that never meets the ONC RPC library: that
# library takes struct timeval by value (the call and retry timeouts) at the size it was built
# with, and Debian's 32-bit x86 build keeps a 32-bit time_t. The kernel layer's and brisnel's
# interfaces carry no time type, so the two sizes never meet across them. C libraries without
# _TIME_BITS ignore it; on 64-bit hosts both are what they already are.
add_compile_definitions(_FILE_OFFSET_BITS=64)

function(rt_time64)
  foreach(target IN LISTS ARGN)
    if(TARGET ${target})
      target_compile_definitions(${target} PRIVATE _TIME_BITS=64)
    endif()
  endforeach()
endfunction()
