# libbzip2 for Windows. Debian ships no MinGW build of it, so scripts/setup-deps fetches
# Debian's own source package into build/deps and its library files are compiled here
# into a static library.
set(WB_DEPS_DIR "${CMAKE_SOURCE_DIR}/build/deps" CACHE PATH "Where setup-deps unpacked Debian's bzip2 source")
file(GLOB WB_BZIP2_SRC_DIRS LIST_DIRECTORIES true "${WB_DEPS_DIR}/bzip2-*")
list(FILTER WB_BZIP2_SRC_DIRS EXCLUDE REGEX "\\.(tar|dsc|gz|xz|bz2)")
list(GET WB_BZIP2_SRC_DIRS 0 WB_BZIP2_DIR)
if(NOT EXISTS "${WB_BZIP2_DIR}/bzlib.c")
  message(FATAL_ERROR "bzip2 source not found below ${WB_DEPS_DIR}: run scripts/setup-deps")
endif()

add_library(wb_bzip2 STATIC
  ${WB_BZIP2_DIR}/blocksort.c ${WB_BZIP2_DIR}/huffman.c ${WB_BZIP2_DIR}/crctable.c
  ${WB_BZIP2_DIR}/randtable.c ${WB_BZIP2_DIR}/compress.c ${WB_BZIP2_DIR}/decompress.c
  ${WB_BZIP2_DIR}/bzlib.c)
target_include_directories(wb_bzip2 SYSTEM PUBLIC ${WB_BZIP2_DIR})
target_compile_options(wb_bzip2 PRIVATE -O2 -w -ffunction-sections -fdata-sections)
