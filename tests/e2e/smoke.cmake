# The GUI path under Wine: a real window and a message box, found and answered by the
# UI driver.
wb_add_test(gui_smoke_test SOURCES ${CMAKE_SOURCE_DIR}/tests/e2e/smoke_test.cpp LIBS wb_ui_driver)
add_dependencies(gui_smoke_test smoke_app)
target_compile_definitions(gui_smoke_test PRIVATE
  "SMOKE_APP=\"$<TARGET_FILE_NAME:smoke_app>\"")
