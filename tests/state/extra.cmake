# The kept state that pins the bytes of the save-state encoding.
target_compile_definitions(${test_target} PRIVATE TARVEL_STATE_FIXTURE="${CMAKE_CURRENT_LIST_DIR}/populated_machine.state.gz")
# A kept state written before queued sounds were saved: it must still restore.
target_compile_definitions(${test_target} PRIVATE
  TARVEL_EARLIER_STATE_FIXTURE="${CMAKE_CURRENT_LIST_DIR}/populated_machine_before_streamed_sounds.state.gz")
# The same machine as the kept state, written before all-zero memory pages
# were left out (every byte of memory): it must still restore.
target_compile_definitions(${test_target} PRIVATE
  TARVEL_DENSE_MEMORY_STATE_FIXTURE="${CMAKE_CURRENT_LIST_DIR}/populated_machine_before_paged_memory.state.gz")
