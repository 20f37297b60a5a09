# Warnings are errors in the project's own code; third-party headers come in as SYSTEM.
function(rt_project_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wcast-qual -Wformat=2 -Wnull-dereference -Wimplicit-fallthrough -Werror)
endfunction()

# One shared object per module or layer, built from every source in its folders.
function(rt_module target)
  cmake_parse_arguments(ARG "" "" "DIRS;LIBS" ${ARGN})
  set(sources)
  foreach(dir IN LISTS ARG_DIRS)
    file(GLOB found CONFIGURE_DEPENDS ${dir}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  if(NOT sources)
    message(STATUS "${target}: no sources yet")
    return()
  endif()
  add_library(${target} SHARED ${sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(${target} PUBLIC ${ARG_LIBS})
  rt_project_warnings(${target})
endfunction()
