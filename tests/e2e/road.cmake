# The example's whole road: HelloSetup.exe (built by `make` with wickerbay-pack app) installed,
# its shortcut started with the host's Java as the registered runtime, and uninstalled.
# road_demo drives the same road for `make demo` and photographs every step.
wb_add_test(road_test SOURCES ${CMAKE_SOURCE_DIR}/tests/e2e/road_test.cpp LIBS wb_ui_driver wbpack ole32 uuid)
add_dependencies(road_test vmkick uninstaller wickerbay)

add_executable(road_demo ${CMAKE_SOURCE_DIR}/tests/e2e/road_demo.cpp)
target_link_libraries(road_demo PRIVATE wb_ui_driver wbpack ole32 uuid)
target_include_directories(road_demo PRIVATE ${CMAKE_SOURCE_DIR})
wb_path_definitions(road_demo)

# The host's Java with the display, for the demo: the example then shows its window. The
# script notes its process number so that the demo can close the window afterwards.
set(display_java_home ${CMAKE_BINARY_DIR}/tests/host-jre-display)
file(WRITE ${display_java_home}/bin/javaw.exe
     "#!/bin/sh\necho $$ > \"${display_java_home}/java.pid\"\nexec \"${WB_HOST_JAVA}\" -Duser.home=\"$HOME\" \"$@\"\n")
file(CHMOD ${display_java_home}/bin/javaw.exe
     PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
