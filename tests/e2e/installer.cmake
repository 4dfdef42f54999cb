# End-to-end tests of the installer's main flow and its faults, on real installers that the
# tests build in-process with the package builder's library. The recorder, carried in the
# packages or placed beside them, stands in for the run command.
wb_add_test(installer_e2e_test
            SOURCES ${CMAKE_SOURCE_DIR}/tests/e2e/installer_e2e_test.cpp
                    ${CMAKE_SOURCE_DIR}/tests/e2e/installer_e2e_faults_test.cpp
            LIBS wb_ui_driver wbpack ole32 uuid)
add_dependencies(installer_e2e_test wickerbay recorder planted_dll uninstaller vmkick)
