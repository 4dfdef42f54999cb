# The shortcut phase and the licence window. The link path's text work runs on the host
# (with the sanitizers) and under Wine; the Windows side links the installer's own code.
wb_add_test(shortcuts_link_path_test
  SOURCES ${CMAKE_SOURCE_DIR}/tests/unit/shortcuts_link_path_test.cpp
  LIBS wb_installer_logic)

if(WIN32)
  # The installer's window and shortcut sources beside its core library: everything but
  # WinMain, so that the tests call the real code.
  set(WB_SHORTCUT_TEST_SOURCES
    ${CMAKE_SOURCE_DIR}/installer/shell_shortcuts.cpp
    ${CMAKE_SOURCE_DIR}/installer/licence_window.cpp
    ${CMAKE_SOURCE_DIR}/installer/main_window.cpp
    ${CMAKE_SOURCE_DIR}/installer/uninstall_registration.cpp)

  wb_add_test(shortcuts_test
    SOURCES ${CMAKE_SOURCE_DIR}/tests/unit/shortcuts_test.cpp ${WB_SHORTCUT_TEST_SOURCES}
    LIBS wb_installer_core wb_shell_roots wb_ui_driver wbpack ole32 uuid)

  wb_add_test(licence_window_test
    SOURCES ${CMAKE_SOURCE_DIR}/tests/unit/shortcuts_licence_window_test.cpp ${WB_SHORTCUT_TEST_SOURCES}
    LIBS wb_installer_core wb_shell_roots ole32 uuid)
endif()
