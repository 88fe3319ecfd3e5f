# The dump replay test talks to the server through the real MariaDB client
# library.
find_library(MARIADB_LIB NAMES mariadb PATHS /usr/lib/x86_64-linux-gnu)
if(TARGET test_parser_it_dump_test)
  target_include_directories(test_parser_it_dump_test PRIVATE /usr/include/mariadb)
  target_link_libraries(test_parser_it_dump_test PRIVATE ${MARIADB_LIB})
endif()
