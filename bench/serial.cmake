# The serial port over a pty: round trip, receive throughput, idle cost, port probing.
if(TARGET mirte_serial)
  add_executable(serial_bench ${CMAKE_CURRENT_LIST_DIR}/serial_bench.cpp)
  target_link_libraries(serial_bench PRIVATE mirte_serial mirte_test_support)
  if(TARGET mirte_serial_qt)
    # The round trip once more through Qt's event loop, as the program runs it.
    target_link_libraries(serial_bench PRIVATE mirte_serial_qt)
    target_compile_definitions(serial_bench PRIVATE MIRTE_BENCH_QT)
  endif()
endif()
