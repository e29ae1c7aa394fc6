# The automated operator: its own unit tests, runs against the virtual printer,
# and runs against fake suites that misbehave.
set(vpop_tests ${CMAKE_SOURCE_DIR}/operator/tests)

gtest_add_tests(TARGET vpoperator_tests TEST_PREFIX "operator."
  SOURCES ${vpop_tests}/prompts_test.cpp ${vpop_tests}/session_test.cpp ${vpop_tests}/faults_test.cpp
    ${vpop_tests}/records_test.cpp ${vpop_tests}/report_test.cpp ${vpop_tests}/virtual_printer_test.cpp)

add_test(NAME operator_open_tests
  COMMAND vpoperator --dir ${CMAKE_BINARY_DIR} --tests 0,1 --verbose)
set_tests_properties(operator_open_tests PROPERTIES TIMEOUT 120)

# The whole suite against a healthy printer: every test must pass (~10 s).
add_test(NAME operator_all_tests
  COMMAND vpoperator --dir ${CMAKE_BINARY_DIR} --tests a --verbose)
set_tests_properties(operator_all_tests PROPERTIES TIMEOUT 300 LABELS operator-all)

# Every fault of the catalogue is caught by its own test's failure line.
add_test(NAME operator_fault_matrix COMMAND vpoperator --dir ${CMAKE_BINARY_DIR} --matrix)
set_tests_properties(operator_fault_matrix PROPERTIES TIMEOUT 400 LABELS operator-matrix)

# Fake suites against the virtual printer the operator starts, as a real run.
function(vpop_fake_run name status regex)
  add_test(NAME ${name}
    COMMAND bash ${vpop_tests}/expect_exit.sh ${status} ${regex}
      $<TARGET_FILE:vpoperator> --dir ${CMAKE_BINARY_DIR} ${ARGN})
  set_tests_properties(${name} PROPERTIES TIMEOUT 60)
endfunction()

vpop_fake_run(operator_times_out_silent_devbench 1 "devbench printed nothing for 1 s"
  --timeout 1 --tests 0 --devbench ${vpop_tests}/fake_devbench_silent.sh)
# In a test the limit is --timeout and what the test may lawfully take:
# Test Bad Port Name's open and a close, 5 s each.
vpop_fake_run(operator_times_out_silent_test 1 "devbench printed nothing for 11 s in testBadPortName \\(1\\)"
  --timeout 1 --tests 1 --devbench ${vpop_tests}/fake_devbench_silent.sh)
set_tests_properties(operator_times_out_silent_test PROPERTIES ENVIRONMENT "VPOP_SILENT_IN=testBadPortName")
vpop_fake_run(operator_reports_failure_line 1 "0  Test Open Port +FAIL"
  --tests 0 --devbench ${vpop_tests}/fake_devbench_failing.sh)
vpop_fake_run(operator_refuses_unknown_prompt 1 "'Make the printer sparkle, then hit enter'.*not guessing"
  --tests 3 --devbench ${vpop_tests}/fake_devbench_unknown_prompt.sh)
# A printer that cannot be set as the prompt asks stops the run there, rather
# than letting the test run against whatever state the printer is in.
vpop_fake_run(operator_stops_when_the_printer_cannot_be_set 1
  "cannot set the printer \\(power=on .*\\) in testWrite \\(3\\): "
  --tests 3 --devbench ${vpop_tests}/fake_devbench_unknown_prompt.sh)
set_tests_properties(operator_stops_when_the_printer_cannot_be_set
  PROPERTIES ENVIRONMENT "VPOP_PROMPT=Make the printer online, then hit enter")
vpop_fake_run(operator_rejects_bad_test_number 2 "not a test number"
  --tests 21 --devbench ${vpop_tests}/fake_devbench_silent.sh)
# No printer at the endpoint is a setup error, never a failure of the library.
vpop_fake_run(operator_wants_a_printer_first 2 "^vpoperator: no printer at /no/such.sock"
  --endpoint /no/such.sock --tests 0)

# The console of a run of all tests, as the technician sees it.
add_test(NAME e2e_all_tests_transcript
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/transcript.sh ${CMAKE_BINARY_DIR})
set_tests_properties(e2e_all_tests_transcript PROPERTIES TIMEOUT 300 LABELS operator-all)

# Run records and progress (records.sh says what each one checks).
foreach(check json bytes manual live paper ending edges stderr library flood hostile)
  add_test(NAME operator_records_${check} COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/records.sh ${check} ${CMAKE_BINARY_DIR})
  set_tests_properties(operator_records_${check} PROPERTIES TIMEOUT 120)
endforeach()

# record/ is the operator's bottom floor: the run and the report build on the
# record model, never the other way.
add_test(NAME operator_record_is_the_bottom_floor
  COMMAND sh -c "! grep -rnE '#include \"operator/(run|report)/' '${CMAKE_SOURCE_DIR}/operator/record'")
# The lab's history: the same questions against SQLite and against a
# throw-away PostgreSQL server (skipped, with the reason, where none starts).
add_test(NAME history_sqlite COMMAND history_tests)
add_test(NAME history_postgresql COMMAND bash ${CMAKE_SOURCE_DIR}/tests/history/postgres.sh $<TARGET_FILE:history_tests>)
set_tests_properties(history_postgresql PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 180)
# Their stores and pages are named by test: two builds testing at once must
# not share them.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/history-scratch)
set_tests_properties(history_sqlite history_postgresql PROPERTIES ENVIRONMENT TEST_TMPDIR=${CMAKE_BINARY_DIR}/history-scratch/)
add_test(NAME history_run_adds COMMAND bash ${CMAKE_SOURCE_DIR}/tests/history/run_adds.sh ${CMAKE_BINARY_DIR})
set_tests_properties(history_run_adds PROPERTIES TIMEOUT 120)
