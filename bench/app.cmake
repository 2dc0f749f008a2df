# The program as a whole: time from start to a main window that takes keys (the splash
# wait left out), and the CPU the idle window uses with its port open. A plain timed main:
# one QApplication per process.
if(TARGET mirte_app_qt AND TARGET mirte_serial_qt AND TARGET mirte_test_support
   AND EXISTS ${CMAKE_SOURCE_DIR}/src/app/main.cpp)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  add_executable(app_startup_bench ${CMAKE_CURRENT_LIST_DIR}/app_startup_bench.cpp)
  target_link_libraries(app_startup_bench PRIVATE mirte_app_qt mirte_test_support Qt6::Test)
endif()
