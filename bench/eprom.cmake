# Writing a full 27c040 image with 63 ROM-disk files.
if(TARGET mirte_eprom)
  add_executable(eprom_bench ${CMAKE_CURRENT_LIST_DIR}/eprom_bench.cpp)
  target_link_libraries(eprom_bench PRIVATE mirte_eprom benchmark::benchmark benchmark::benchmark_main)
endif()
