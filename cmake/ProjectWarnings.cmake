# The project's own code builds with a wide set of warnings; third-party headers come in as
# SYSTEM. Warnings are errors only in the developers' and CI builds (the test command turns
# RT_WERROR on): a user's plain build never fails on a warning that another compiler finds.
option(RT_WERROR "Treat the project's warnings as errors" OFF)
function(rt_project_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wcast-qual -Wformat=2 -Wnull-dereference -Wimplicit-fallthrough
    $<$<BOOL:${RT_WERROR}>:-Werror>)
endfunction()

# One shared object per module or layer, built from every source in its folders.
#
# With HIDDEN, the sources build with hidden visibility and only what the public headers
# declare (between `#pragma GCC visibility push(default)` and `pop`) is exported; the objects
# are also available as <target>Objects, which tests link to reach the module's private parts.
function(rt_module target)
  cmake_parse_arguments(ARG "HIDDEN" "" "DIRS;LIBS" ${ARGN})
  set(sources)
  foreach(dir IN LISTS ARG_DIRS)
    file(GLOB found CONFIGURE_DEPENDS ${dir}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  if(NOT sources)
    message(STATUS "${target}: no sources yet")
    return()
  endif()
  if(ARG_HIDDEN)
    add_library(${target}Objects OBJECT ${sources})
    target_include_directories(${target}Objects PUBLIC ${PROJECT_SOURCE_DIR}/include
                                                PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${target}Objects PUBLIC ${ARG_LIBS})
    set_target_properties(${target}Objects PROPERTIES CXX_VISIBILITY_PRESET hidden
                                                      VISIBILITY_INLINES_HIDDEN ON)
    rt_project_warnings(${target}Objects)
    add_library(${target} SHARED $<TARGET_OBJECTS:${target}Objects>)
  else()
    add_library(${target} SHARED ${sources})
    rt_project_warnings(${target})
  endif()
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(${target} PUBLIC ${ARG_LIBS})
endfunction()
