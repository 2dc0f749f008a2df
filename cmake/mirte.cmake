# mirte_test(<name> SOURCES <files...> LIBS <libs...> [QT])
# One GoogleTest executable, registered with CTest test by test. QT tests run on the
# offscreen platform so they need no display.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/test-home)
function(mirte_test name)
  # One rule for the executables, so a test is found by its file's name: <what>_test.
  if(NOT name MATCHES "_test$")
    message(FATAL_ERROR "mirte_test(${name}): test executables are named <what>_test")
  endif()
  cmake_parse_arguments(T "QT" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} mirte_test_support GTest::gtest GTest::gtest_main)
  # The folder's name is the label: ./test.sh runs `-L serial` under ThreadSanitizer.
  get_filename_component(label ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  # No test writes to the real home folder (the default working folder lies there).
  set(props TIMEOUT 120 LABELS ${label} ENVIRONMENT_MODIFICATION HOME=set:${CMAKE_BINARY_DIR}/test-home)
  if(T_QT)
    list(APPEND props ENVIRONMENT QT_QPA_PLATFORM=offscreen)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
