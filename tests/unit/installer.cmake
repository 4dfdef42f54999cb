# Tests of the installer. Its text logic runs on the host and under Wine; the package reader
# and the installation engine run under Wine against real folders of the test prefix, with
# the windows and the shortcut phase stood in for.
wb_add_test(installer_logic_test SOURCES ${CMAKE_SOURCE_DIR}/tests/unit/installer_logic_test.cpp
            LIBS wb_installer_logic)

if(WIN32)
  wb_add_test(installer_engine_test SOURCES ${CMAKE_SOURCE_DIR}/tests/unit/installer_engine_test.cpp
              LIBS wb_installer_core wbpack)
  # The same program with the package's blocks decoded on one thread and on four: every
  # package of it must install the same whatever the machine's cores. The differential
  # test forces its thread counts itself and runs once.
  foreach(threads 1 4)
    wb_test_runner(runner installer_engine_test_${threads}_threads "")
    add_test(NAME installer_engine_test_${threads}_threads
             COMMAND ${runner} $<TARGET_FILE:installer_engine_test> --gtest_brief=0
                     --gtest_filter=-ParallelDecode.*)
    set_tests_properties(installer_engine_test_${threads}_threads PROPERTIES TIMEOUT 600
                         ENVIRONMENT "WB_TEST_DECODE_THREADS=${threads}")
  endforeach()
  # A file that accepts no data: the engine's writes into it fail as on a full disk.
  set(WB_FULL_DEVICE_DIR ${CMAKE_BINARY_DIR}/installer-full-device)
  file(MAKE_DIRECTORY ${WB_FULL_DEVICE_DIR})
  file(CREATE_LINK /dev/full ${WB_FULL_DEVICE_DIR}/full.bin SYMBOLIC)
  wb_windows_path(WB_FULL_DEVICE_DIR_WIN ${WB_FULL_DEVICE_DIR})
  target_compile_definitions(installer_engine_test PRIVATE "FULL_DEVICE_DIR=\"${WB_FULL_DEVICE_DIR_WIN}\"")
endif()
