# Build settings shared by every directory: warnings, sanitizers, the bzip2 library of
# each configuration, and helpers for Windows programs and tests.

add_compile_options(-Wall -Wextra)

if(WB_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
  # Everything linked statically: a user's machine needs only the system DLLs. No
  # timestamp in the PE header, so the same sources give the same bytes.
  # The installer and its libraries are compiled for link-time optimisation as well; every
  # other program and test links their machine code, without the linker plugin.
  add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp -fno-use-linker-plugin)

  # Tests run under Wine through the runner, with the prefix of this build tree.
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env WB_WINE_DIR=${WB_WINE_DIR} ${CMAKE_SOURCE_DIR}/scripts/wine-run)

  # Windows forms of the build's paths, for tests that start programs or save pictures,
  # written as the inside of a C string literal (each backslash doubled).
  function(wb_windows_path out unix_path)
    string(REPLACE "/" "\\\\" p "${unix_path}")
    set(${out} "Z:${p}" PARENT_SCOPE)
  endfunction()
  wb_windows_path(WB_DIST_DIR_WIN "${WB_DIST_DIR}")
  wb_windows_path(WB_SCREENSHOT_DIR_WIN "${WB_SCREENSHOT_DIR}")
  wb_windows_path(WB_SOURCE_DIR_WIN "${CMAKE_SOURCE_DIR}")
  wb_windows_path(WB_BINARY_DIR_WIN "${CMAKE_BINARY_DIR}")
else()
  find_package(BZip2 REQUIRED)
  add_library(wb_bzip2 INTERFACE)
  target_link_libraries(wb_bzip2 INTERFACE BZip2::BZip2)
endif()
# On the host only the tests need the library's source (to compare the patched library
# with the plain one); the builder uses the system's.
if(WIN32 OR WB_TESTS OR WB_FUZZ)
  include(${CMAKE_CURRENT_LIST_DIR}/bzip2.cmake)
endif()

# A shipped Windows program: GUI subsystem, small, stripped, into the dist folder.
function(wb_windows_program target output_name)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${output_name}
    RUNTIME_OUTPUT_DIRECTORY ${WB_DIST_DIR})
  target_compile_options(${target} PRIVATE -Os -ffunction-sections -fdata-sections
                         -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables)
  target_link_options(${target} PRIVATE -mwindows -s -Wl,--gc-sections)
  add_dependencies(dist ${target})
endfunction()

# The application manifest of a shipped program, from one template: the execution level it
# asks Windows for, the versions of Windows it was written for, the themed common controls,
# and crisp GDI text on scaled displays (the program stays DPI-unaware, so its fixed pixel
# layout keeps its meaning). Its .rc file names it as `manifest_name`.manifest.
function(wb_program_manifest target manifest_name assembly_name level rc_file)
  set(WB_MANIFEST_NAME ${assembly_name})
  set(WB_EXECUTION_LEVEL ${level})
  set(dir ${CMAKE_BINARY_DIR}/manifests/${manifest_name})
  configure_file(${CMAKE_SOURCE_DIR}/resources/app.manifest.in ${dir}/${manifest_name}.manifest @ONLY)
  target_include_directories(${target} PRIVATE ${dir})
  set_property(SOURCE ${rc_file} APPEND PROPERTY OBJECT_DEPENDS ${dir}/${manifest_name}.manifest)
endfunction()

# The build's paths as compile definitions, for tests and their support code.
function(wb_path_definitions target)
  if(WIN32)
    target_compile_definitions(${target} PRIVATE
      "WB_DIST_DIR=\"${WB_DIST_DIR_WIN}\""
      "WB_SCREENSHOT_DIR=\"${WB_SCREENSHOT_DIR_WIN}\""
      "WB_SOURCE_DIR=\"${WB_SOURCE_DIR_WIN}\""
      "WB_BINARY_DIR=\"${WB_BINARY_DIR_WIN}\"")
  else()
    target_compile_definitions(${target} PRIVATE
      "WB_DIST_DIR=\"${WB_DIST_DIR}\""
      "WB_SOURCE_DIR=\"${CMAKE_SOURCE_DIR}\""
      "WB_BINARY_DIR=\"${CMAKE_BINARY_DIR}\"")
  endif()
endfunction()

# A GoogleTest program, run as one CTest test (under Wine: one Wine start per program, in
# the 64-bit prefix with WINE_ARCH win64). Its result counts only with the closing report
# that GoogleTest writes after its last test (scripts/gtest-complete): a program that ends
# half-way with status 0 fails.
function(wb_add_test name)
  cmake_parse_arguments(T "" "WINE_ARCH" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  wb_path_definitions(${name})
  wb_test_runner(runner ${name} "${T_WINE_ARCH}")
  add_test(NAME ${name} COMMAND ${runner} $<TARGET_FILE:${name}> --gtest_brief=0)
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# The command that runs test program `name` and checks its closing report: the report
# check, then (for Windows programs) the Wine runner with the prefix of this build tree.
function(wb_test_runner out name wine_arch)
  set(runner ${CMAKE_SOURCE_DIR}/scripts/gtest-complete --xml ${CMAKE_BINARY_DIR}/test-reports/${name}.xml)
  if(WIN32)
    list(APPEND runner --windows -- /usr/bin/env WB_WINE_DIR=${WB_WINE_DIR})
    if(wine_arch)
      list(APPEND runner WB_WINE_ARCH=${wine_arch})
    endif()
    list(APPEND runner ${CMAKE_SOURCE_DIR}/scripts/wine-run)
  else()
    list(APPEND runner --)
  endif()
  set(${out} ${runner} PARENT_SCOPE)
endfunction()
