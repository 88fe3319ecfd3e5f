# The integration tests of the worker threads run once more on the built-in
# client.
foreach(stem it_threads_test it_stress_test it_pool_test)
  if(TARGET test_threads_${stem})
    add_test(NAME threads.${stem}.direct COMMAND test_threads_${stem})
    set_tests_properties(threads.${stem}.direct PROPERTIES
      FIXTURES_REQUIRED mariadb LABELS "threads;integration"
      ENVIRONMENT "${ROWSET_TEST_ENV};ROWSET_DATASET_DRIVER=direct" TIMEOUT 600)
  endif()
endforeach()
