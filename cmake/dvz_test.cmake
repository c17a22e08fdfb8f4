include(GoogleTest)
# dvz_add_gtest(<name> SOURCES ... [LIBS ...] [LABELS ...] [LOCKS ...]
#               [TIMEOUT s] [ENV VAR=value ...] [PREFIX text])
# One GoogleTest executable, registered with CTest as one test per case
# (each case's name preceded by PREFIX, when given). Every label, lock and
# environment entry reaches every case.
#
# gtest_discover_tests flattens list values of its PROPERTIES (only the
# first element of LABELS a;b would arrive), so the list properties are
# set by a script of our own that CTest includes after the discovered
# tests, on the list of their names. The same script makes a case that
# GoogleTest skipped count as skipped, never as passed (tools/test-all
# fails on a skip that tests/README.md does not allow).
function(dvz_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT;PREFIX" "SOURCES;LIBS;LABELS;LOCKS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 TEST_PREFIX "${T_PREFIX}"
                       TEST_LIST ${name}_TESTS PROPERTIES TIMEOUT ${T_TIMEOUT})

  set(props " SKIP_REGULAR_EXPRESSION [==[\\[  SKIPPED \\]]==]")
  foreach(pair "LABELS;T_LABELS" "RESOURCE_LOCK;T_LOCKS" "ENVIRONMENT;T_ENV")
    list(GET pair 0 property)
    list(GET pair 1 values)
    if(${values})
      string(APPEND props " ${property} [==[${${values}}]==]")
    endif()
  endforeach()
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
  file(WRITE ${script} "if(${name}_TESTS)\n"
                       "  set_tests_properties(\${${name}_TESTS} PROPERTIES${props})\n"
                       "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()
