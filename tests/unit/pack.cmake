# Tests of the package builder (tools/pack). The library's tests run on the host and under
# Wine; the command-line tests drive the host's wickerbay-pack binary.
wb_add_test(pack_test SOURCES ${CMAKE_SOURCE_DIR}/tests/unit/pack_test.cpp LIBS wbpack)

if(NOT WIN32)
  wb_add_test(pack_cli_test SOURCES ${CMAKE_SOURCE_DIR}/tests/unit/pack_cli_test.cpp LIBS wbpack)
  add_dependencies(pack_cli_test wickerbay-pack)
  target_compile_definitions(pack_cli_test PRIVATE
    "WB_PACK_EXE=\"$<TARGET_FILE:wickerbay-pack>\""
    "WB_PROJECT_VERSION=\"${PROJECT_VERSION}\"")
endif()
