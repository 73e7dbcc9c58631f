# GoogleTest: the installed package natively; for mingw, built from the
# sources that Debian's googletest package puts in /usr/src/googletest.
macro(qm_find_gtest)
  if(TARGET GTest::gtest_main)
  elseif(WIN32)
    set(QM_GTEST_SRC /usr/src/googletest CACHE PATH "GoogleTest sources")
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${QM_GTEST_SRC} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL SYSTEM)
  else()
    find_package(GTest REQUIRED)
  endif()
endmacro()

# One test executable is one CTest test: under Wine every start costs about
# a second, so cases are grouped per executable, never discovered one by one.
# WRAPPER: a bash script that CTest runs instead, with the executable's path
# and arguments (for tests that need peers started around them).
function(qm_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT;WRAPPER" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  qm_warnings(${name})
  if(ARG_WRAPPER)
    add_test(NAME ${name} COMMAND bash ${ARG_WRAPPER} $<TARGET_FILE:${name}> --gtest_brief=1)
  else()
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
endfunction()
