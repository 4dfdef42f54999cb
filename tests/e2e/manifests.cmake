# The programs' application manifests, read back from the built PE files on the host, and
# the execution level the builder writes into machine-wide and per-user installers.
add_test(NAME program_manifests
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/manifest_test.sh ${WB_DIST_DIR} ${CMAKE_BINARY_DIR}/tests/manifests)
set_tests_properties(program_manifests PROPERTIES TIMEOUT 120)
