# CTest keeps each test's history by its name, so a name must be the same on
# every build: a parameterized test names its rows (a name generator, and a
# PrintTo where GoogleTest would print the row's bytes), never by index or
# by the bytes of a row, whose addresses change with each build.
if(NOT CMAKE_SCRIPT_MODE_FILE)
  set(name_programs unit_tests)
  foreach(program vprinter_tests vprinter_e2e_tests vpoperator_tests)
    if(TARGET ${program})
      list(APPEND name_programs ${program})
    endif()
  endforeach()
  list(TRANSFORM name_programs REPLACE "(.+)" "$<TARGET_FILE:\\1>")
  add_test(NAME test_names_stable
    COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} "-DPROGRAMS=${name_programs}"
      -P ${CMAKE_CURRENT_LIST_FILE})
  return()
endif()

# A byte dump (<6C-26 ED-F4 ...>) or an address anywhere in a line; a row
# known only by its index in a name.
set(unstable "([0-9A-Fa-f][0-9A-Fa-f]-[0-9A-Fa-f][0-9A-Fa-f] |0x[0-9A-Fa-f]+)")
set(indexed "/[0-9]+$")
set(bad "")
foreach(program ${PROGRAMS})
  execute_process(COMMAND ${program} --gtest_list_tests OUTPUT_VARIABLE list RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${program} --gtest_list_tests ended with ${status}")
  endif()
  string(REPLACE "\n" ";" lines "${list}")
  foreach(line ${lines})
    string(REGEX REPLACE " *#.*" "" name "${line}")
    if(line MATCHES "${unstable}" OR name MATCHES "${indexed}")
      string(APPEND bad "  ${program}: ${line}\n")
    endif()
  endforeach()
endforeach()
execute_process(COMMAND ${CMAKE_CTEST_COMMAND} -N WORKING_DIRECTORY ${BUILD_DIR} OUTPUT_VARIABLE list)
string(REPLACE "\n" ";" lines "${list}")
foreach(line ${lines})
  if(line MATCHES "^ *Test +#[0-9]+: " AND (line MATCHES "${unstable}" OR line MATCHES "${indexed}"))
    string(APPEND bad "  ctest: ${line}\n")
  endif()
endforeach()
if(bad)
  message(FATAL_ERROR "test names that change from build to build:\n${bad}")
endif()
