# End-to-end tests of the installer's main flow and its faults, on real installers that the
# tests build in-process with the package builder's library. The recorder, carried in the
# packages or placed beside them, stands in for the run command.
wb_add_test(installer_e2e_test
            SOURCES ${CMAKE_SOURCE_DIR}/tests/e2e/installer_e2e_test.cpp
                    ${CMAKE_SOURCE_DIR}/tests/e2e/installer_e2e_faults_test.cpp
            LIBS wb_ui_driver wbpack ole32 uuid)
add_dependencies(installer_e2e_test wickerbay recorder planted_dll uninstaller vmkick)

# A signed installer and its unsigned twin, made on the host with a throwaway certificate
# (openssl, osslsigncode and the host's wickerbay-pack) before the end-to-end test runs.
add_test(NAME signed_installer_setup
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/signed_installer.sh ${WB_DIST_DIR} ${CMAKE_BINARY_DIR}/tests/signed)
set_tests_properties(signed_installer_setup PROPERTIES FIXTURES_SETUP signed_installer)
set_tests_properties(installer_e2e_test PROPERTIES FIXTURES_REQUIRED signed_installer)

# A host program the tests start through Wine, to list names as the host file system holds
# them: `host-names DIR OUT` writes the paths below DIR, sorted byte-wise, to OUT, which
# appears only once it is complete.
set(host_names ${CMAKE_BINARY_DIR}/tests/host-names)
file(WRITE ${host_names}
     "#!/bin/sh\ncd \"$1\" && find . -mindepth 1 | LC_ALL=C sort > \"$2.part\" && mv \"$2.part\" \"$2\"\n")
file(CHMOD ${host_names} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                     WORLD_READ WORLD_EXECUTE)
