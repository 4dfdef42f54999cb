# Fuzzing the configuration parser (common/config) with libFuzzer. The parser's source
# is compiled into the target itself, so that libFuzzer's coverage instrumentation reaches
# it. The seed corpus stays read-only in the source tree: inputs that libFuzzer finds go
# to a corpus folder in the build tree, listed first, and crash files beside it.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_executable(config_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/config_fuzz.cpp
                             ${CMAKE_SOURCE_DIR}/common/config.cpp)
  target_include_directories(config_fuzz PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(config_fuzz PRIVATE -fsanitize=fuzzer)
  target_link_options(config_fuzz PRIVATE -fsanitize=fuzzer)

  set(config_fuzz_dir ${CMAKE_CURRENT_BINARY_DIR}/config_fuzz.work)
  file(MAKE_DIRECTORY ${config_fuzz_dir}/corpus)
  # Long enough for tokens beyond the 16384-byte buffer.
  set(config_fuzz_args -max_len=20000 -dict=${CMAKE_CURRENT_SOURCE_DIR}/config.dict
      -artifact_prefix=${config_fuzz_dir}/ ${config_fuzz_dir}/corpus
      ${CMAKE_CURRENT_SOURCE_DIR}/corpus/config)

  # A fixed seed: the short run in `make test` takes the same path each time; `make fuzz`
  # explores with fresh ones.
  add_test(NAME config_fuzz_smoke COMMAND config_fuzz -max_total_time=20 -seed=1 ${config_fuzz_args}
           WORKING_DIRECTORY ${config_fuzz_dir})
  set_tests_properties(config_fuzz_smoke PROPERTIES LABELS fuzz TIMEOUT 120)

  # The long run only when asked for (cmake -DWB_FUZZ_LONG=ON), so that a plain ctest run
  # never includes it; `make fuzz` selects it by its label.
  if(WB_FUZZ_LONG)
    add_test(NAME config_fuzz_long COMMAND config_fuzz -max_total_time=180 ${config_fuzz_args}
             WORKING_DIRECTORY ${config_fuzz_dir})
    set_tests_properties(config_fuzz_long PROPERTIES LABELS fuzz-long TIMEOUT 400)
  endif()
endif()
