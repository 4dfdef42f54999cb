# The uninstaller and the uninstall registration. The log reader, the removal plan and the
# key names run on the host (with the sanitizers) and under Wine; the registry and file
# system work runs under Wine only.
wb_add_test(uninstall_log_test
  SOURCES ${CMAKE_SOURCE_DIR}/tests/unit/uninstall_log_test.cpp
  LIBS wb_uninstall_logic)

if(WIN32)
  wb_add_test(uninstall_registration_test
    SOURCES ${CMAKE_SOURCE_DIR}/tests/unit/uninstall_registration_test.cpp
            ${CMAKE_SOURCE_DIR}/installer/uninstall_registration.cpp
            ${CMAKE_SOURCE_DIR}/uninstaller/registration_lookup.cpp
    LIBS wb_uninstall_logic wb_ui_driver wbpack advapi32)

  wb_add_test(uninstall_removal_test
    SOURCES ${CMAKE_SOURCE_DIR}/tests/unit/uninstall_removal_test.cpp
            ${CMAKE_SOURCE_DIR}/uninstaller/removal.cpp
            ${CMAKE_SOURCE_DIR}/uninstaller/self_removal.cpp
    LIBS wb_uninstall_logic wb_shell_roots wb_ui_driver wbpack advapi32)
endif()

# The path rule across the three programs: generated packages through the builder's checks,
# the installer's walk and log, the uninstaller's reader and plan, and an update. On the
# host, where the lead bytes come from the table that matches Windows' own.
if(NOT WIN32)
  wb_add_test(paths_property_test
    SOURCES ${CMAKE_SOURCE_DIR}/tests/unit/paths_property_test.cpp
    LIBS wb_uninstall_logic wb_installer_logic wbpack)
endif()
