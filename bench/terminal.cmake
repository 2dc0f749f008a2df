# Painting the terminal window offscreen: a full repaint of the 24 x 80 screen, and a 64 KB
# burst of console text in 256-byte chunks with every change notification handled.
if(TARGET mirte_terminal_qt)
  add_executable(terminal_bench ${CMAKE_CURRENT_LIST_DIR}/terminal_bench.cpp)
  target_link_libraries(terminal_bench PRIVATE mirte_terminal_qt benchmark::benchmark)
endif()
