# cmake --install: the shell, the kernel layer, the three modules, the public headers and a
# pkg-config file per library. The installed shell finds the modules by bare name in the
# library folder beside it.
include(GNUInstallDirs)

set(rt_libraries kernel brisnel tovelle quenby)
foreach(library IN LISTS rt_libraries)
  if(TARGET ${library})
    set_target_properties(${library} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${library} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  endif()
endforeach()
if(TARGET rtsh)
  install(TARGETS rtsh RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/shell/rtsh.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# name;description;extra Requires
set(rt_pc_kernel "kernel layer: tasks, semaphores, error numbers, I/O system, path and host libraries" "")
set(rt_pc_brisnel "NFS version 2 and 3 client module" "libkernel, libtirpc")
set(rt_pc_tovelle "SNTP client module" "libkernel")
set(rt_pc_quenby "in-memory value store module" "")
# The files name the prefix relative to their own folder, so that an install to any prefix
# (cmake --install --prefix) is right.
file(RELATIVE_PATH PC_PREFIX_FROM_PCDIR /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
foreach(library IN LISTS rt_libraries)
  list(GET rt_pc_${library} 0 PC_DESCRIPTION)
  list(GET rt_pc_${library} 1 PC_REQUIRES)
  set(PC_NAME ${library})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/library.pc.in
                 ${PROJECT_BINARY_DIR}/pkgconfig/lib${library}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/lib${library}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
