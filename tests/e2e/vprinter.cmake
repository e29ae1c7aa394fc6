# The virtual printer: its model, frames and front panel on their own, then
# the printer, the library and the control client as real processes.
if(TARGET vprinter)
  set(vprinter_tests_dir ${CMAKE_SOURCE_DIR}/vprinter/tests)
  add_executable(vprinter_tests ${vprinter_tests_dir}/device_test.cpp ${CMAKE_SOURCE_DIR}/wire/tests/protocol_test.cpp
    ${vprinter_tests_dir}/panel_test.cpp ${vprinter_tests_dir}/paper_test.cpp ${CMAKE_SOURCE_DIR}/wire/tests/sha256_test.cpp
    ${CMAKE_SOURCE_DIR}/wire/tests/portlock_test.cpp ${CMAKE_SOURCE_DIR}/wire/tests/nearest_name_test.cpp)
  target_link_libraries(vprinter_tests PRIVATE vprinter_device vprinter_control wire_names GTest::gtest_main)
  target_compile_definitions(vprinter_tests PRIVATE VPRINTER_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(vprinter_tests TEST_PREFIX "vprinter." DISCOVERY_TIMEOUT 30 NO_PRETTY_VALUES)

  add_executable(vprinter_e2e_tests ${vprinter_tests_dir}/e2e_test.cpp)
  target_link_libraries(vprinter_e2e_tests PRIVATE KelmorPort vprinter_control GTest::gtest_main)
  target_compile_definitions(vprinter_e2e_tests PRIVATE VPRINTER_PROGRAM="$<TARGET_FILE:vprinter>")
  add_dependencies(vprinter_e2e_tests vprinter)
  gtest_discover_tests(vprinter_e2e_tests TEST_PREFIX "vprinter.e2e." DISCOVERY_TIMEOUT 30 NO_PRETTY_VALUES
    PROPERTIES TIMEOUT 120)
endif()
