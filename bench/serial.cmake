# The serial port over a pty: round trip, receive throughput, idle cost, port probing.
if(TARGET mirte_serial)
  add_executable(serial_bench ${CMAKE_CURRENT_LIST_DIR}/serial_bench.cpp)
  target_link_libraries(serial_bench PRIVATE mirte_serial mirte_test_support)
endif()
