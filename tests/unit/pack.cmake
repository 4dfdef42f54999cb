# Tests of the package builder (tools/pack). The library's tests run on the host and under
# Wine; the command-line tests drive the host's wickerbay-pack binary.
wb_add_test(pack_test SOURCES ${CMAKE_SOURCE_DIR}/tests/unit/pack_test.cpp
                              ${CMAKE_SOURCE_DIR}/tests/unit/bzip2_patch_test.cpp
            LIBS wbpack wb_bzip2_test_plain wb_bzip2_test_patched)
# bzip2's sample files, from its source.
# The fuzzer's seeds, which must carry today's package record.
if(WIN32)
  wb_windows_path(bzip2_dir_win "${WB_BZIP2_DIR}")
  wb_windows_path(pack_corpus_win "${CMAKE_SOURCE_DIR}/fuzz/corpus/pack")
  target_compile_definitions(pack_test PRIVATE "WB_BZIP2_SOURCE_DIR=\"${bzip2_dir_win}\""
                                               "WB_PACK_CORPUS_DIR=\"${pack_corpus_win}\"")
else()
  target_compile_definitions(pack_test PRIVATE "WB_BZIP2_SOURCE_DIR=\"${WB_BZIP2_DIR}\""
                                               "WB_PACK_CORPUS_DIR=\"${CMAKE_SOURCE_DIR}/fuzz/corpus/pack\"")
endif()

if(NOT WIN32)
  wb_add_test(pack_cli_test SOURCES ${CMAKE_SOURCE_DIR}/tests/unit/pack_cli_test.cpp LIBS wbpack)
  # The example's jar is read as a real one.
  add_dependencies(pack_cli_test wickerbay-pack hello_jar)
  target_compile_definitions(pack_cli_test PRIVATE
    "WB_PACK_EXE=\"$<TARGET_FILE:wickerbay-pack>\""
    "WB_PROJECT_VERSION=\"${PROJECT_VERSION}\"")
endif()
