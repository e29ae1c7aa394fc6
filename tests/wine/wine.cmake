# The Windows programs, run under Wine. Each check exits 77, which CTest
# reports as skipped, with "skipped: wine not available" when Wine cannot run
# the program on this machine.
set(wine_run ${CMAKE_CURRENT_LIST_DIR}/run-exe.sh)

add_test(NAME wine_unit_tests COMMAND sh ${wine_run} $<TARGET_FILE:unit_tests>)
add_test(NAME wine_platform_tests COMMAND sh ${wine_run} $<TARGET_FILE:platform_tests>)

add_executable(argv_check ${CMAKE_CURRENT_LIST_DIR}/argv_check.cpp)
target_link_libraries(argv_check PRIVATE platform)
add_test(NAME wine_start_and_wait COMMAND sh ${wine_run} $<TARGET_FILE:argv_check>)

# SHA-256 on CNG, which names the library in the operator's record.
add_executable(sha256_tests ${CMAKE_SOURCE_DIR}/wire/tests/sha256_test.cpp)
target_link_libraries(sha256_tests PRIVATE wire_sha256 GTest::gtest_main)
add_test(NAME wine_sha256 COMMAND sh ${wine_run} $<TARGET_FILE:sha256_tests>)

set_tests_properties(wine_unit_tests wine_platform_tests wine_start_and_wait wine_sha256 PROPERTIES SKIP_RETURN_CODE 77)

# Run by e2e.sh, which has a printer for it.
add_executable(lasterror_check ${CMAKE_CURRENT_LIST_DIR}/lasterror_check.cpp)
target_link_libraries(lasterror_check PRIVATE KelmorPort)

# devbench.exe against a virtual printer running natively on Linux, with the
# probe of this build and, in a 64-bit build given a 32-bit build's directory,
# with that probe too.
set(DEVBENCH_HOST_VPRINTER "" CACHE FILEPATH "A native vprinter for the Wine end-to-end check")
set(wine_e2e ${CMAKE_CURRENT_LIST_DIR}/e2e.sh)
if(DEVBENCH_HOST_VPRINTER)
  add_test(NAME wine_e2e COMMAND bash ${wine_e2e} ${DEVBENCH_HOST_VPRINTER} ${CMAKE_BINARY_DIR})
  set(wine_e2e_tests wine_e2e)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(DEVBENCH_WIN32_DIR "" CACHE PATH "A 32-bit Windows build directory whose holdprobe.exe the check also uses")
    set(DEVBENCH_WIN32_OTHER_DLL "" CACHE FILEPATH
      "A 32-bit KelmorPort.dll of the other calling convention, which that holdprobe.exe crashes on")
    if(DEVBENCH_WIN32_DIR)
      add_test(NAME wine_e2e_probe32
        COMMAND bash ${wine_e2e} ${DEVBENCH_HOST_VPRINTER} ${CMAKE_BINARY_DIR} ${DEVBENCH_WIN32_DIR}
          ${DEVBENCH_WIN32_OTHER_DLL})
      list(APPEND wine_e2e_tests wine_e2e_probe32)
    endif()
  endif()
  set_tests_properties(${wine_e2e_tests} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900)
else()
  add_test(NAME wine_e2e COMMAND sh -c
    "echo 'skipped: no native vprinter to talk to (configure with -DDEVBENCH_HOST_VPRINTER=PATH)'; exit 77")
  set_tests_properties(wine_e2e PROPERTIES SKIP_RETURN_CODE 77)
endif()
