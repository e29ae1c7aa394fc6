# Test Port Locking and holdprobe against the stand-in library and a virtual
# printer, each party a real process.
set(locking_cases passes held_elsewhere non_exclusive_library probe_missing probe_cannot_load probe_crashes
  killed_probe_frees_port lock_folder_taken)
if(TARGET vprinter)
  add_executable(locking_port_tool ${CMAKE_CURRENT_LIST_DIR}/port_tool.cpp)
  target_link_libraries(locking_port_tool PRIVATE platform KelmorPort)
  foreach(case ${locking_cases})
    add_test(NAME e2e_locking_${case}
      COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/locking.sh ${case}
        $<TARGET_FILE_DIR:devbench> $<TARGET_FILE:vprinter> $<TARGET_FILE:locking_port_tool>)
    set_tests_properties(e2e_locking_${case} PROPERTIES TIMEOUT 120)
  endforeach()
else()
  add_test(NAME e2e_locking COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/locking.sh skip
    "the virtual printer (target vprinter) is not built yet")
  set_tests_properties(e2e_locking PROPERTIES SKIP_RETURN_CODE 77)
endif()
