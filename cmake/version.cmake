# Writes the suite's version, as git describes the source tree, into OUTPUT
# at build time; the file changes only when the version does, so a build with
# nothing new rebuilds nothing. Without git (a source archive) it is FALLBACK.
#   cmake -DSOURCE_DIR=... -DOUTPUT=... -DFALLBACK=... -P version.cmake
set(version "${FALLBACK}")
find_program(GIT_EXECUTABLE git)
if(GIT_EXECUTABLE)
  execute_process(COMMAND ${GIT_EXECUTABLE} describe --tags --always --dirty
    WORKING_DIRECTORY ${SOURCE_DIR} OUTPUT_VARIABLE described RESULT_VARIABLE result
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(result EQUAL 0 AND described)
    set(version "${described}")
  endif()
endif()
string(REPLACE "\\" "\\\\" version "${version}")
string(REPLACE "\"" "\\\"" version "${version}")
set(text "// Written by cmake/version.cmake at build time.\n#define DEVBENCH_VERSION \"${version}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
