# The program the terminal tests run under tmux.
add_executable(design_login_probe ${PROJECT_SOURCE_DIR}/tests/design/probe/login_probe.cpp)
target_link_libraries(design_login_probe PRIVATE rowset)
add_dependencies(test_design_terminal_login_test design_login_probe)
target_compile_definitions(test_design_terminal_login_test PRIVATE
  LOGIN_PROBE="$<TARGET_FILE:design_login_probe>")
