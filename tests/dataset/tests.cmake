# The integration tests of the datasets run once more on the built-in client.
foreach(stem
    it_open_test
    it_fields_test
    it_records_test
    it_values_test
    it_read_once_test
    it_macros_test
    it_edit_test
    it_edit_rows_test
    it_blobs_test
    it_locate_test
    it_create_test
    it_provider_test
    it_lost_connection_test
    it_transactions_test)
  add_test(NAME dataset.${stem}.direct COMMAND test_dataset_${stem})
  set_tests_properties(dataset.${stem}.direct PROPERTIES
    FIXTURES_REQUIRED mariadb LABELS "dataset;integration"
    ENVIRONMENT "${ROWSET_TEST_ENV};ROWSET_DATASET_DRIVER=direct" TIMEOUT 600)
endforeach()
