# libbzip2 compiled from Debian's source package, which scripts/setup-deps fetches into
# build/deps (Debian ships no MinGW build of it).
#
# Two builds of it: wb_bzip2, with our patch for fast small-memory decompression, is what
# the programs link; wb_bzip2_plain is the library as Debian ships it, for the benchmark's
# floor program. The tests link both a third and fourth time with every BZ2_ name
# prefixed (wbpatched_, wbplain_), so that one program can compare the two.
set(WB_DEPS_DIR "${CMAKE_SOURCE_DIR}/build/deps" CACHE PATH "Where setup-deps unpacked Debian's bzip2 source")
file(GLOB WB_BZIP2_SRC_DIRS LIST_DIRECTORIES true "${WB_DEPS_DIR}/bzip2-*")
list(FILTER WB_BZIP2_SRC_DIRS EXCLUDE REGEX "\\.(tar|dsc|gz|xz|bz2)")
list(GET WB_BZIP2_SRC_DIRS 0 WB_BZIP2_DIR)
if(NOT EXISTS "${WB_BZIP2_DIR}/bzlib.c")
  message(FATAL_ERROR "bzip2 source not found below ${WB_DEPS_DIR}: run scripts/setup-deps")
endif()

set(WB_BZIP2_FILES blocksort.c huffman.c crctable.c randtable.c compress.c decompress.c bzlib.c
                   bzlib.h bzlib_private.h)

# The patched copy: patched in a staging folder on every configure, then copied only where
# its content changed, so that configuring again does not rebuild the library.
set(WB_BZIP2_PATCH ${CMAKE_CURRENT_LIST_DIR}/bzip2-small-fast.patch)
set(WB_BZIP2_PATCHED_DIR ${CMAKE_BINARY_DIR}/bzip2-patched)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${WB_BZIP2_PATCH})
set(staging ${CMAKE_BINARY_DIR}/bzip2-staging)
file(REMOVE_RECURSE ${staging})
file(MAKE_DIRECTORY ${staging})
foreach(f ${WB_BZIP2_FILES})
  file(COPY ${WB_BZIP2_DIR}/${f} DESTINATION ${staging})
endforeach()
find_program(WB_PATCH_PROGRAM patch REQUIRED)
execute_process(COMMAND ${WB_PATCH_PROGRAM} -p1 --batch --no-backup-if-mismatch -d ${staging} -i ${WB_BZIP2_PATCH}
                RESULT_VARIABLE patch_status OUTPUT_VARIABLE patch_output ERROR_VARIABLE patch_output)
if(NOT patch_status EQUAL 0)
  message(FATAL_ERROR "cmake/bzip2-small-fast.patch does not apply to ${WB_BZIP2_DIR}:\n${patch_output}")
endif()
foreach(f ${WB_BZIP2_FILES})
  configure_file(${staging}/${f} ${WB_BZIP2_PATCHED_DIR}/${f} COPYONLY)
endforeach()

# Every external name of the library, for the prefixed builds.
set(WB_BZIP2_NAMES
  BZ2_bzCompressInit BZ2_bzCompress BZ2_bzCompressEnd BZ2_bzDecompressInit BZ2_bzDecompress
  BZ2_bzDecompressEnd BZ2_bzReadOpen BZ2_bzReadClose BZ2_bzReadGetUnused BZ2_bzRead
  BZ2_bzWriteOpen BZ2_bzWrite BZ2_bzWriteClose BZ2_bzWriteClose64 BZ2_bzBuffToBuffCompress
  BZ2_bzBuffToBuffDecompress BZ2_bzlibVersion BZ2_bzopen BZ2_bzdopen BZ2_bzread BZ2_bzwrite
  BZ2_bzflush BZ2_bzclose BZ2_bzerror BZ2_blockSort BZ2_hbMakeCodeLengths BZ2_hbAssignCodes
  BZ2_hbCreateDecodeTables BZ2_crc32Table BZ2_rNums BZ2_compressBlock BZ2_bsInitWrite
  BZ2_decompress BZ2_indexIntoF BZ2_bz__AssertH__fail)

# The library's compiler options, chosen by measurement: -O3 took 5 % fewer instructions
# than -O2 but no less time, so -O2 (see the patch's comment for where the time goes).
set(WB_BZIP2_OPTIONS -O2)

# name: the target; source: the folder with the library's files; PREFIX: put before
# every BZ2_ name; NO_STDIO: without the library's file functions (BZ2_bzopen, BZ2_bzRead
# and the rest) and its verbose printing.
function(wb_bzip2_library name source)
  cmake_parse_arguments(L "NO_STDIO" "PREFIX" "" ${ARGN})
  set(sources)
  foreach(f blocksort huffman crctable randtable compress decompress bzlib)
    list(APPEND sources ${source}/${f}.c)
  endforeach()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} SYSTEM PUBLIC ${source})
  target_compile_options(${name} PRIVATE ${WB_BZIP2_OPTIONS} -w -ffunction-sections -fdata-sections)
  if(source STREQUAL WB_BZIP2_PATCHED_DIR)
    # The patched decompressor built for size: 2 KB less in the installer stub, and
    # counted with callgrind over a small-mode read of 8 MB it runs no more instructions
    # than at -O2 (0.8 % fewer). The other files stay at -O2: bzlib.c holds the output
    # loop, which -Os makes 5 % longer.
    set_source_files_properties(${source}/decompress.c PROPERTIES COMPILE_OPTIONS -Os)
  endif()
  if(WIN32)
    # It prints only in its verbose modes, which no program here asks for, so the C
    # runtime's own printf serves instead of MinGW's replacement; and without unwind
    # tables the linker may drop the compressor from the installer, whose table entries
    # would otherwise keep every function of the library alive.
    target_compile_definitions(${name} PRIVATE __USE_MINGW_ANSI_STDIO=0)
    target_compile_options(${name} PRIVATE -fno-asynchronous-unwind-tables)
  endif()
  if(L_NO_STDIO)
    # The linker drops unused functions but keeps every import they named: the file
    # functions alone put a dozen C runtime imports into the installer's import table.
    # Without them the library reports an internal error through bz_internal_error.
    target_compile_definitions(${name} PRIVATE BZ_NO_STDIO)
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/cmake/bzip2_internal_error.c)
  endif()
  if(L_PREFIX)
    foreach(n ${WB_BZIP2_NAMES})
      target_compile_definitions(${name} PRIVATE ${n}=${L_PREFIX}${n})
    endforeach()
  endif()
endfunction()

if(WIN32)
  # The programs read and write through buffers only; the benchmark's floor program reads
  # with the library's file functions.
  wb_bzip2_library(wb_bzip2 ${WB_BZIP2_PATCHED_DIR} NO_STDIO)
  wb_bzip2_library(wb_bzip2_files ${WB_BZIP2_PATCHED_DIR})
  wb_bzip2_library(wb_bzip2_plain ${WB_BZIP2_DIR})
endif()
if(WB_TESTS OR WB_FUZZ)
  wb_bzip2_library(wb_bzip2_test_patched ${WB_BZIP2_PATCHED_DIR} PREFIX wbpatched_)
  wb_bzip2_library(wb_bzip2_test_plain ${WB_BZIP2_DIR} PREFIX wbplain_)
endif()
