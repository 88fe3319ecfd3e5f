# The program the terminal tests run under tmux.
add_executable(design_dialog_probe ${PROJECT_SOURCE_DIR}/tests/design/probe/dialog_probe.cpp)
target_link_libraries(design_dialog_probe PRIVATE rowset)
add_dependencies(test_design_terminal_dialogs_test design_dialog_probe)
target_compile_definitions(test_design_terminal_dialogs_test PRIVATE
  DIALOG_PROBE="$<TARGET_FILE:design_dialog_probe>")
