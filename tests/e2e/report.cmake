# The sign-off report in headless Chromium: a real run under a library fault
# and its comparison with a healthy run, then a hostile record and records
# the report cannot read. Skipped (77) where Chromium, its driver or Debian's
# Selenium is missing.
if(TARGET vprinter)
  foreach(check pages hostile)
    if(EXISTS /usr/bin/python3)
      set(report_command /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/browser/report_test.py
        --dir ${CMAKE_BINARY_DIR} ${check})
    else()
      set(report_command sh -c "echo 'skipped: /usr/bin/python3 is not installed'; exit 77")
    endif()
    add_test(NAME report_browser_${check} COMMAND ${report_command})
    set_tests_properties(report_browser_${check} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 180)
  endforeach()
endif()
