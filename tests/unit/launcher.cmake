# Unit tests of the launcher's logic (launcher/launcher_state, version, launch_text,
# text_buffer), on the host and under Wine. Under Wine the quoted arguments are also read
# back by the system's own command-line splitter.
wb_add_test(launcher_test SOURCES ${CMAKE_SOURCE_DIR}/tests/unit/launcher_test.cpp LIBS vmkick_logic)
if(WIN32)
  target_link_libraries(launcher_test PRIVATE shell32)
endif()
