# The printer's front page in headless Chromium: it opens only with its
# secret and names its printer, a click changes the printer, and devbench's
# jobs come out on the paper. Skipped (77) where Chromium, its driver or
# Debian's Selenium (for Debian's python3) is missing.
if(TARGET vprinter)
  if(EXISTS /usr/bin/python3)
    set(front_page_command /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/browser/front_page_test.py
      --dir ${CMAKE_BINARY_DIR})
  else()
    set(front_page_command sh -c "echo 'skipped: /usr/bin/python3 is not installed'; exit 77")
  endif()
  add_test(NAME front_page_browser COMMAND ${front_page_command})
  set_tests_properties(front_page_browser PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 180)
endif()
