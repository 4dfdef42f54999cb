# Unit tests of the configuration parser (common/config), on the host and under Wine.
wb_add_test(config_test SOURCES ${CMAKE_SOURCE_DIR}/tests/unit/config_test.cpp LIBS wb_config)

# In the sanitizer build the same program runs once more with every allocation above
# 1 MiB failing, so that loadConfig's out-of-memory path is taken for real.
if(WB_SANITIZE AND NOT WIN32)
  add_test(NAME config_test_allocation_failure
           COMMAND config_test --gtest_filter=ConfigLoad.AllocationFailureIsAbsent)
  set_tests_properties(config_test_allocation_failure PROPERTIES
    ENVIRONMENT "WB_CONFIG_ALLOCATIONS_LIMITED=1;ASAN_OPTIONS=max_allocation_size_mb=1:allocator_may_return_null=1"
    TIMEOUT 60)
endif()
