# Board output through the console interpreter into the terminal buffer.
if(TARGET mirte_board)
  add_executable(console_bench ${CMAKE_CURRENT_LIST_DIR}/console_bench.cpp)
  target_link_libraries(console_bench PRIVATE mirte_board benchmark::benchmark)
endif()
