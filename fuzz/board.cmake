# Board byte streams through the whole board service, file commands included, in a sandbox.
if(TARGET mirte_board)
  add_executable(board_fuzz ${CMAKE_CURRENT_LIST_DIR}/board_fuzz.cpp)
  target_include_directories(board_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(board_fuzz PRIVATE mirte_board)
  target_link_options(board_fuzz PRIVATE -fsanitize=fuzzer)
endif()
