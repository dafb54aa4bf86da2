# cmake -P ImportLibraries.cmake: quorvel_client.dll's import libraries, for MinGW's
# linker (libquorvel_client.dll.a) and for MSVC's and lld-link (quorvel_client.lib).
#
# On x86 the header's WINAPI makes a caller reference _QuorvelLocate@8, while the DLL
# exports the plain QuorvelLocate for C#, Delphi and VB. Each import library must map
# the one to the other: symbols decorated, import names plain (dlltool -k). The byte
# counts come from the DLL's own objects, so they are what the compiler made of the
# header and can never drift from it. On x86-64 nothing is decorated.
#
#   NM, DLLTOOL, LLVM_DLLTOOL  the tools; MACHINE i386 or i386:x86-64
#   DEF      the DLL's .def (plain names); OBJECTS its objects (;-list)
#   OUT      the folder for both libraries and, on x86, quorvel_client_x86.def
foreach(var NM DLLTOOL LLVM_DLLTOOL MACHINE DEF OBJECTS OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "ImportLibraries.cmake: ${var} is not set")
  endif()
endforeach()

file(STRINGS ${DEF} lines)
set(exports "")
set(in_exports FALSE)
foreach(line IN LISTS lines)
  string(REGEX REPLACE ";.*" "" line "${line}")
  string(STRIP "${line}" line)
  if(line STREQUAL "EXPORTS")
    set(in_exports TRUE)
  elseif(in_exports AND line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)$")
    list(APPEND exports ${CMAKE_MATCH_1})
  endif()
endforeach()
if(NOT exports)
  message(FATAL_ERROR "${DEF} exports nothing")
endif()

set(def ${DEF})
file(MAKE_DIRECTORY ${OUT})
if(MACHINE STREQUAL "i386")
  execute_process(COMMAND ${NM} -g --defined-only ${OBJECTS} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${OBJECTS}")
  endif()
  set(text "; quorvel_client.dll's exports as an x86 caller's compiler names them (WINAPI).\n")
  string(APPEND text "LIBRARY quorvel_client.dll\nEXPORTS\n")
  foreach(name IN LISTS exports)
    if(NOT symbols MATCHES " T _${name}(@[0-9]+)\n")
      message(FATAL_ERROR "no __stdcall ${name} in ${OBJECTS}: is it WINAPI in the header?")
    endif()
    string(APPEND text "  ${name}${CMAKE_MATCH_1}\n")
  endforeach()
  set(def ${OUT}/quorvel_client_x86.def)
  file(WRITE ${def} "${text}")
endif()

# dlltool writes its temporaries into the current folder.
execute_process(COMMAND ${DLLTOOL} -m ${MACHINE} -k -d ${def} -D quorvel_client.dll -l libquorvel_client.dll.a
                WORKING_DIRECTORY ${OUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${DLLTOOL} failed")
endif()
execute_process(COMMAND ${LLVM_DLLTOOL} -m ${MACHINE} -k -d ${def} -D quorvel_client.dll -l quorvel_client.lib
                WORKING_DIRECTORY ${OUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${LLVM_DLLTOOL} failed")
endif()
