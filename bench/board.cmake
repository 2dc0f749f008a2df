# The board's file transfers over a pseudo-terminal: records per second and reply latency.
if(TARGET mirte_board AND TARGET mirte_serial AND TARGET mirte_test_support)
  add_executable(board_bench ${CMAKE_CURRENT_LIST_DIR}/board_bench.cpp)
  target_link_libraries(board_bench PRIVATE mirte_board mirte_serial mirte_test_support)
endif()
