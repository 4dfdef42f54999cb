# Fuzzing the package reader (tools/pack: the part behind list, verify and extract) with
# libFuzzer. The reader's sources are compiled into the target itself, so that the
# coverage instrumentation reaches them. The seed corpus stays read-only in the source
# tree: new inputs go to a corpus folder in the build tree, listed first, and crash files
# beside it.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_executable(pack_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/pack_fuzz.cpp
                           ${CMAKE_SOURCE_DIR}/tools/pack/package_scan.cpp
                           ${CMAKE_SOURCE_DIR}/tools/pack/sha256.cpp
                           ${CMAKE_SOURCE_DIR}/tools/pack/package_writer.cpp
                           ${CMAKE_SOURCE_DIR}/tools/pack/block_join.cpp
                           ${CMAKE_SOURCE_DIR}/common/path_rule.cpp
                           ${CMAKE_SOURCE_DIR}/common/code_page_bytes.cpp

                           ${CMAKE_SOURCE_DIR}/tools/pack/code_page.cpp)
  target_include_directories(pack_fuzz PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(pack_fuzz PRIVATE wb_bzip2 wb_bzip2_test_plain wb_bzip2_test_patched)
  target_compile_options(pack_fuzz PRIVATE -fsanitize=fuzzer)
  target_link_options(pack_fuzz PRIVATE -fsanitize=fuzzer)

  set(pack_fuzz_dir ${CMAKE_CURRENT_BINARY_DIR}/pack_fuzz.work)
  file(MAKE_DIRECTORY ${pack_fuzz_dir}/corpus)
  set(pack_fuzz_args -max_len=8192 -rss_limit_mb=2048 -artifact_prefix=${pack_fuzz_dir}/
      ${pack_fuzz_dir}/corpus ${CMAKE_CURRENT_SOURCE_DIR}/corpus/pack)

  # A fixed seed: the short run in `make test` takes the same path each time; `make fuzz`
  # explores with fresh ones.
  add_test(NAME pack_fuzz_smoke COMMAND pack_fuzz -max_total_time=20 -seed=1 ${pack_fuzz_args}
           WORKING_DIRECTORY ${pack_fuzz_dir})
  set_tests_properties(pack_fuzz_smoke PROPERTIES LABELS fuzz TIMEOUT 120)

  # The long run only when asked for (cmake -DWB_FUZZ_LONG=ON); `make fuzz` selects it by
  # its label.
  if(WB_FUZZ_LONG)
    add_test(NAME pack_fuzz_long COMMAND pack_fuzz -max_total_time=180 ${pack_fuzz_args}
             WORKING_DIRECTORY ${pack_fuzz_dir})
    set_tests_properties(pack_fuzz_long PROPERTIES LABELS fuzz-long TIMEOUT 400)
  endif()
endif()
