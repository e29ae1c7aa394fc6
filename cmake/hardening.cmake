# Optimised builds end a process at once when an overrun gets past the
# suite's own checks: a canary in every frame that holds an array, and the C
# library's checked copies where a buffer's size is known. Debug builds have
# neither (the checked copies need optimisation), and the sanitizer build
# keeps only the canary, as AddressSanitizer checks the copies itself.
# MinGW-w64 keeps both in libssp, which some of its versions must be told to
# link; -static then takes its archive, so no DLL is added.
include(CheckCXXSourceCompiles)
include(CMakePushCheckState)

set(hardening_probe [=[
#include <stdio.h>
#include <string.h>
int main(int argc, char** argv)
{
    char buffer[64];
    snprintf(buffer, sizeof buffer, "%s", argv[0]);
    memcpy(buffer, argv[0], strlen(argv[0]) % sizeof buffer);
    return buffer[argc % 8];
}
]=])

# Sets `result` to the flags that build and link the probe (with libssp when
# only that works), or to nothing.
function(devbench_hardening_flags result flags)
  cmake_push_check_state(RESET)
  set(CMAKE_REQUIRED_FLAGS "-O2 ${flags}")
  string(MAKE_C_IDENTIFIER "DEVBENCH_HAS_${flags}" plain)
  check_cxx_source_compiles("${hardening_probe}" ${plain})
  if(NOT ${plain})
    set(CMAKE_REQUIRED_LIBRARIES ssp)
    string(MAKE_C_IDENTIFIER "DEVBENCH_HAS_${flags}_WITH_SSP" withSsp)
    check_cxx_source_compiles("${hardening_probe}" ${withSsp})
  endif()
  cmake_pop_check_state()
  if(${plain})
    set(${result} "${flags}" PARENT_SCOPE)
  elseif(${withSsp})
    set(${result} "${flags};SSP" PARENT_SCOPE)
  else()
    set(${result} "" PARENT_SCOPE)
  endif()
endfunction()

set(hardening_options "")
set(hardening_ssp OFF)
devbench_hardening_flags(protector "-fstack-protector-strong")
set(fortify "")
if(NOT DEVBENCH_SANITIZE)
  # Undefined first: a compiler that defines it already would warn.
  devbench_hardening_flags(fortify "-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2")
endif()
foreach(found IN LISTS protector fortify)
  if(found STREQUAL "SSP")
    set(hardening_ssp ON)
  elseif(found)
    separate_arguments(found_list UNIX_COMMAND "${found}")
    list(APPEND hardening_options ${found_list})
  endif()
endforeach()
if(NOT MSVC AND hardening_options)
  message(STATUS "Optimised builds harden with: ${hardening_options} (libssp: ${hardening_ssp})")
  set(optimised "$<AND:$<NOT:$<CONFIG:Debug>>,$<COMPILE_LANGUAGE:C,CXX>>")
  add_compile_options("$<${optimised}:${hardening_options}>")
  # At the link too, where the compiler driver adds libssp for the targets
  # that need it (MinGW's DLLs and programs).
  if(protector)
    add_link_options("$<$<NOT:$<CONFIG:Debug>>:-fstack-protector-strong>")
  endif()
  if(hardening_ssp)
    link_libraries("$<$<NOT:$<CONFIG:Debug>>:ssp>")
  endif()
endif()
