# End-to-end tests of vmkick under Wine. Recorders stand in for javaw.exe, java.exe and the
# web browser; one test runs the example application with the host's Java as the runtime
# shipped beside it.
# The places the runtime search looks include the 64-bit registry view, which only a
# 32-bit program under WOW64 has: launcher_sources_test runs in the runner's second, 64-bit
# prefix.
foreach(test launcher_failure_test launcher_start_test launcher_sources_test)
  set(arch "")
  if(test STREQUAL launcher_sources_test)
    set(arch win64)
  endif()
  wb_add_test(${test} SOURCES ${CMAKE_SOURCE_DIR}/tests/e2e/${test}.cpp LIBS wb_ui_driver WINE_ARCH ${arch})
  add_dependencies(${test} recorder vmkick)
endforeach()

# The host's Java as a registered Windows runtime: asked to start a host script, Wine runs
# it, so this one stands as the runtime's bin\javaw.exe. Headless, so that the example
# ends by itself after recording its run instead of waiting for its window to be closed.
# Java takes its home folder from the password file, not from HOME; the runner's HOME in
# the build tree is given to it, so that its caches stay there too.
find_program(WB_HOST_JAVA java)
set(real_java_home ${CMAKE_BINARY_DIR}/tests/real-jre)
file(WRITE ${real_java_home}/bin/javaw.exe
     "#!/bin/sh\nexec \"${WB_HOST_JAVA}\" -Duser.home=\"$HOME\" -Djava.awt.headless=true \"$@\"\n")
file(CHMOD ${real_java_home}/bin/javaw.exe
     PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
wb_windows_path(real_java_home_win "${real_java_home}")
target_compile_definitions(launcher_start_test PRIVATE "REAL_JAVA_HOME=\"${real_java_home_win}\"")
