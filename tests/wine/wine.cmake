# The Windows programs, run under Wine. Each check exits 77, which CTest
# reports as skipped, with "skipped: wine not available" when Wine cannot run
# the program on this machine.
set(wine_run ${CMAKE_CURRENT_LIST_DIR}/run-exe.sh)

add_test(NAME wine_unit_tests COMMAND sh ${wine_run} $<TARGET_FILE:unit_tests>)

add_executable(argv_check ${CMAKE_CURRENT_LIST_DIR}/argv_check.cpp)
target_link_libraries(argv_check PRIVATE platform)
add_test(NAME wine_start_and_wait COMMAND sh ${wine_run} $<TARGET_FILE:argv_check>)

set_tests_properties(wine_unit_tests wine_start_and_wait PROPERTIES SKIP_RETURN_CODE 77)
