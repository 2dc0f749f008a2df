# Board byte streams through the console interpreter, and operation sequences straight on
# the terminal buffer.
if(TARGET mirte_board)
  add_executable(console_fuzz ${CMAKE_CURRENT_LIST_DIR}/console_fuzz.cpp)
  target_link_libraries(console_fuzz PRIVATE mirte_board)
  target_link_options(console_fuzz PRIVATE -fsanitize=fuzzer)
endif()
if(TARGET mirte_terminal)
  add_executable(terminal_buffer_fuzz ${CMAKE_CURRENT_LIST_DIR}/terminal_buffer_fuzz.cpp)
  target_link_libraries(terminal_buffer_fuzz PRIVATE mirte_terminal)
  target_link_options(terminal_buffer_fuzz PRIVATE -fsanitize=fuzzer)
endif()
