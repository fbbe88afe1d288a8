# The kept state that pins the bytes of the save-state encoding.
target_compile_definitions(${test_target} PRIVATE TARVEL_STATE_FIXTURE="${CMAKE_CURRENT_LIST_DIR}/populated_machine.state.gz")
