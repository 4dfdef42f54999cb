# The uninstaller end to end: real installers, built in-process with the package builder's
# library, install packages that carry the uninstaller as built; the installed copy removes
# them again.
wb_add_test(uninstall_e2e_test SOURCES ${CMAKE_SOURCE_DIR}/tests/e2e/uninstall_e2e_test.cpp
            LIBS wb_ui_driver wbpack ole32 uuid shell32)
add_dependencies(uninstall_e2e_test wickerbay uninstaller)
