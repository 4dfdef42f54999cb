# The test runner's own checks. A program that stops before its last test with status 0
# must fail (on the host, and under Wine where it was seen), and so must one that crashes
# with a window shown, at once.
add_executable(stops_early_program ${CMAKE_SOURCE_DIR}/tests/unit/stops_early_program.cpp)
target_link_libraries(stops_early_program PRIVATE GTest::gtest GTest::gtest_main)
wb_test_runner(stops_early_runner stops_early_program "")
add_test(NAME a_test_program_that_stops_early_fails
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/unit/stops_early_test.sh
                 ${CMAKE_BINARY_DIR}/test-reports/stops_early_program.xml
                 ${stops_early_runner} $<TARGET_FILE:stops_early_program>)
set_tests_properties(a_test_program_that_stops_early_fails PROPERTIES TIMEOUT 300)

# How setup-deps decides whether i386 programs need the emulator, and what it then runs.
if(NOT WIN32)
  add_test(NAME i386_host_setup_test
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/unit/i386_host_test.sh ${CMAKE_SOURCE_DIR}/scripts/i386-host)
  set_tests_properties(i386_host_setup_test PROPERTIES TIMEOUT 60)
endif()
