# cindrel_library(NAME DEPS dep1 dep2 ...)
# Builds every .cpp/.h of the calling folder into the static library
# cindrel_<NAME>. A folder without sources yet becomes an interface library
# that only forwards its dependencies, so dependants link either way.
function(cindrel_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/*.h
       ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  file(GLOB _cpp CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(_target cindrel_${name})
  if(_cpp)
    add_library(${_target} STATIC ${_src})
    target_include_directories(${_target} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${_target} PUBLIC ${ARG_DEPS})
  else()
    add_library(${_target} INTERFACE)
    target_include_directories(${_target} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${_target} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# cindrel_test_folder(NAME DEPS ...): one GoogleTest executable for every
# *_test.cpp in the calling folder, each case registered with CTest.
function(cindrel_test_folder name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  file(GLOB _cpp CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT _cpp)
    return()
  endif()
  set(_target test_${name})
  add_executable(${_target} ${_tests})
  target_link_libraries(${_target} PRIVATE cindrel_testmain ${ARG_DEPS})
  # ENVIRONMENT holds a single variable on purpose: gtest_discover_tests
  # passes its properties on as a flat list, where a second variable would
  # split the call apart (it and TIMEOUT were lost). Sanitizer options come
  # from the test main program (tests/common/test_main.cpp) instead.
  gtest_discover_tests(${_target}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600)
endfunction()
