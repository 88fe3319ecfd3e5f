# Test discovery: every tests/<subsystem>/*.cpp is one test program and one
# CTest test labelled with its subsystem. Files named it_*.cpp need the MariaDB
# test server: they are labelled `integration` and require the server fixture,
# which CTest starts before them and stops afterwards.

set(ROWSET_TEST_SERVER_DIR ${CMAKE_BINARY_DIR}/testserver)
set(ROWSET_TEST_ENV
  ROWSET_TEST_SERVER_ENV=${ROWSET_TEST_SERVER_DIR}/server.env
  ROWSET_SOURCE_DIR=${PROJECT_SOURCE_DIR}
  ROWSET_BINARY_DIR=${CMAKE_BINARY_DIR})

# Sanitizer builds stop at the first finding, undefined behaviour included.
# Suppressions name third-party libraries only (tests/sanitizers/*.supp).
if(ROWSET_SANITIZE)
  list(APPEND ROWSET_TEST_ENV
    ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=1:detect_stack_use_after_return=0
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
    LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/sanitizers/lsan.supp:print_suppressions=0)
endif()
if(ROWSET_TSAN)
  list(APPEND ROWSET_TEST_ENV
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=${PROJECT_SOURCE_DIR}/tests/sanitizers/tsan.supp)
endif()

file(GLOB _support CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/common/*.cpp)
add_library(rowset_testsupport STATIC ${_support})
# The fake peer compresses frames and speaks TLS itself, so the tests link
# zlib and OpenSSL directly.
target_link_libraries(rowset_testsupport PUBLIC rowset GTest::gtest ZLIB::ZLIB OpenSSL::SSL OpenSSL::Crypto ${CMAKE_DL_LIBS})
target_include_directories(rowset_testsupport PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_definitions(rowset_testsupport PRIVATE ROWSET_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

add_test(NAME testserver_start
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/testserver.sh start ${ROWSET_TEST_SERVER_DIR})
add_test(NAME testserver_stop
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/testserver.sh stop ${ROWSET_TEST_SERVER_DIR})
set_tests_properties(testserver_start PROPERTIES FIXTURES_SETUP mariadb LABELS "integration" TIMEOUT 180)
set_tests_properties(testserver_stop PROPERTIES FIXTURES_CLEANUP mariadb LABELS "integration")

set(ROWSET_TEST_SUBSYSTEMS host util wire parser drivers server dataset threads design tools)
foreach(sub IN LISTS ROWSET_TEST_SUBSYSTEMS)
  file(GLOB _tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${sub}/*.cpp)
  foreach(src IN LISTS _tests)
    get_filename_component(stem ${src} NAME_WE)
    set(target test_${sub}_${stem})
    add_executable(${target} ${src})
    target_link_libraries(${target} PRIVATE rowset_testsupport GTest::gtest_main)
    add_test(NAME ${sub}.${stem} COMMAND ${target})
    set(_labels ${sub})
    if(stem MATCHES "^it_")
      list(APPEND _labels integration)
      set_tests_properties(${sub}.${stem} PROPERTIES FIXTURES_REQUIRED mariadb)
    endif()
    set_tests_properties(${sub}.${stem} PROPERTIES
      LABELS "${_labels}" ENVIRONMENT "${ROWSET_TEST_ENV}" TIMEOUT 600)
  endforeach()
  # Optional extra rules of a subsystem's tests (helper programs, data files).
  if(EXISTS ${PROJECT_SOURCE_DIR}/tests/${sub}/tests.cmake)
    include(${PROJECT_SOURCE_DIR}/tests/${sub}/tests.cmake)
  endif()
endforeach()

# Tests against replicated servers (a three-node Galera cluster, a primary
# with a replica: scripts/cluster.sh), labelled `cluster`. They take minutes,
# so the quick runs leave them out (ctest -LE cluster); ./dev.sh test-cluster
# runs them.
set(ROWSET_CLUSTER_DIR ${CMAKE_BINARY_DIR}/cluster)
file(GLOB _cluster_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/cluster/*.cpp)
if(_cluster_tests)
  add_test(NAME cluster_start
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/cluster.sh start ${ROWSET_CLUSTER_DIR})
  add_test(NAME cluster_stop
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/cluster.sh stop ${ROWSET_CLUSTER_DIR})
  set_tests_properties(cluster_start PROPERTIES FIXTURES_SETUP galera LABELS "cluster;integration" TIMEOUT 600)
  set_tests_properties(cluster_stop PROPERTIES FIXTURES_CLEANUP galera LABELS "cluster;integration")
endif()
foreach(src IN LISTS _cluster_tests)
  get_filename_component(stem ${src} NAME_WE)
  add_executable(test_cluster_${stem} ${src})
  target_link_libraries(test_cluster_${stem} PRIVATE rowset_testsupport GTest::gtest_main)
  add_test(NAME cluster.${stem} COMMAND test_cluster_${stem})
  set_tests_properties(cluster.${stem} PROPERTIES
    FIXTURES_REQUIRED galera LABELS "cluster;server;dataset;integration" TIMEOUT 900
    ENVIRONMENT "${ROWSET_TEST_ENV};ROWSET_CLUSTER_ENV=${ROWSET_CLUSTER_DIR}/cluster.env")
endforeach()
