# The shortcut phase and the licence window, driven through real installers that the tests
# build in-process with the package builder's library.
wb_add_test(shortcuts_e2e_test SOURCES ${CMAKE_SOURCE_DIR}/tests/e2e/shortcuts_e2e_test.cpp
            LIBS wb_ui_driver wbpack ole32 uuid)
wb_add_test(licence_e2e_test SOURCES ${CMAKE_SOURCE_DIR}/tests/e2e/licence_e2e_test.cpp
            LIBS wb_ui_driver wbpack ole32 uuid)
add_dependencies(shortcuts_e2e_test wickerbay)
add_dependencies(licence_e2e_test wickerbay)
