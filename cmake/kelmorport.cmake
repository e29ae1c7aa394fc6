# KelmorPort as the programs link against it. On Windows that is an import
# library made from portlib/KelmorPort.def, as a vendor's would be: the
# programs then need nothing from a KelmorPort.dll but the ten undecorated
# names, and run against the vendor's build or the stand-in alike.
# Elsewhere it is the stand-in library itself.

# 32-bit Windows DLLs export either convention under the same names, so the
# build has to be told which one the vendor's DLL uses. x86-64 has only one.
set(KELMORPORT_CALLCONV cdecl CACHE STRING "Calling convention of KelmorPort.dll on 32-bit Windows: cdecl or stdcall")
set_property(CACHE KELMORPORT_CALLCONV PROPERTY STRINGS cdecl stdcall)
if(KELMORPORT_CALLCONV STREQUAL "stdcall")
  add_compile_definitions(KELMORPORT_STDCALL)
elseif(NOT KELMORPORT_CALLCONV STREQUAL "cdecl")
  message(FATAL_ERROR "KELMORPORT_CALLCONV is '${KELMORPORT_CALLCONV}'; it must be cdecl or stdcall")
endif()

add_library(KelmorPort INTERFACE)

if(WIN32 AND NOT MSVC)
  # Only a 32-bit stdcall symbol carries the size of its arguments.
  set(def_source ${CMAKE_SOURCE_DIR}/portlib/KelmorPort.def)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def_source})
  file(READ ${def_source} def_text)
  if(NOT (KELMORPORT_CALLCONV STREQUAL "stdcall" AND CMAKE_SIZEOF_VOID_P EQUAL 4))
    string(REGEX REPLACE "@[0-9]+" "" def_text "${def_text}")
  endif()
  # Rewritten only when it changes, so a configure alone relinks nothing.
  set(KELMORPORT_DEF ${CMAKE_BINARY_DIR}/KelmorPort.def)
  set(old_def_text "")
  if(EXISTS ${KELMORPORT_DEF})
    file(READ ${KELMORPORT_DEF} old_def_text)
  endif()
  if(NOT old_def_text STREQUAL def_text)
    file(WRITE ${KELMORPORT_DEF} "${def_text}")
  endif()

  set(import_library ${CMAKE_BINARY_DIR}/KelmorPort.lib)
  add_custom_command(OUTPUT ${import_library}
    COMMAND ${CMAKE_DLLTOOL} -k -d ${KELMORPORT_DEF} -D KelmorPort.dll -l ${import_library}
    DEPENDS ${KELMORPORT_DEF}
    COMMENT "Making the import library KelmorPort.lib")
  add_custom_target(kelmorport_import DEPENDS ${import_library})
  target_link_libraries(KelmorPort INTERFACE ${import_library})
  # The stand-in's DLL lands beside the programs, for the checks that run them.
  add_dependencies(KelmorPort kelmorport_import kelmorport_standin)
else()
  target_link_libraries(KelmorPort INTERFACE kelmorport_standin)
endif()
