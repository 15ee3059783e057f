# One static library per subsystem folder under src/, holding every .cpp file of
# that folder. All are compiled position-independent with hidden visibility, so
# they link into libhibe.so without exporting anything and into the unit tests.
#
#   hibe_add_module(NAME DEPS dep...)   -> target hibe_NAME from src/NAME/*.cpp
function(hibe_add_module name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(hibe_${name} STATIC ${sources})
    target_include_directories(hibe_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(hibe_${name} PUBLIC ${ARG_DEPS})
  else()
    # A folder that holds headers only so far.
    add_library(hibe_${name} INTERFACE)
    target_include_directories(hibe_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(hibe_${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# The unit tests of one subsystem: every .cpp file of tests/NAME/ in one GoogleTest
# executable NAME_tests, registered with CTest. With STARTUP the tests run after
# the library's start-up (the main of tests/test_main.cpp, target
# hibe_test_main); without it, with GoogleTest's main.
#
#   hibe_add_tests(NAME [STARTUP] DEPS dep...)
function(hibe_add_tests name)
  cmake_parse_arguments(ARG "STARTUP" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name}_tests ${sources})
  target_include_directories(${name}_tests PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name}_tests PRIVATE HIBE_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")
  if(ARG_STARTUP)
    target_link_libraries(${name}_tests PRIVATE ${ARG_DEPS} hibe_test_main)
  else()
    target_link_libraries(${name}_tests PRIVATE ${ARG_DEPS} GTest::gtest_main)
  endif()
  gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
endfunction()

# Stops the configuration when two headers below the include roots share an
# include name (include/hibe/x.h and src/hibe/x.h are both "hibe/x.h"): which
# file such a name means would depend on the order of the include paths.
#
#   hibe_check_include_names(root...)   -> roots relative to the source folder
function(hibe_check_include_names)
  set(seen)
  foreach(root IN LISTS ARGN)
    file(GLOB_RECURSE names RELATIVE ${PROJECT_SOURCE_DIR}/${root} CONFIGURE_DEPENDS
         ${PROJECT_SOURCE_DIR}/${root}/*.h)
    foreach(name IN LISTS names)
      if(name IN_LIST seen)
        message(FATAL_ERROR "two headers have the include name \"${name}\", one of them ${root}/${name}")
      endif()
      list(APPEND seen ${name})
    endforeach()
  endforeach()
endfunction()
