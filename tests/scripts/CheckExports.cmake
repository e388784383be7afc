# cmake -DDLL=atiadlxx.dll -DOBJDUMP=...-objdump -DEXPECTED_FILE=names.txt -P CheckExports.cmake
#
# The substitute display library must export exactly the names of the file (one a line), each undecorated: a cdecl
# function of a 32-bit build is exported under its plain name, while a standard-call one would
# carry its argument size ("_Name@12", or "Name@12" once the underscore is taken off).
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed (${rc})")
endif()
# The names of the export table's name pointer table: "\t[   3] +base[   4]  0003 Name" or, in
# older binutils, "\t[   3] Name".
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
if(at LESS 0)
  message(FATAL_ERROR "no export name table in ${DLL}")
endif()
string(SUBSTRING "${dump}" ${at} -1 table)
string(REGEX MATCHALL "\n[ \t]+\\[ *[0-9]+\\][^\n]*" lines "${table}")
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE ".* ([^ ]+)$" "\\1" name "${line}")
  list(APPEND names "${name}")
endforeach()
list(SORT names)
file(STRINGS ${EXPECTED_FILE} expected)
list(SORT expected)
set(bad "")
foreach(name IN LISTS names)
  if(name MATCHES "@" OR name MATCHES "^_")
    list(APPEND bad "${name} (decorated)")
  endif()
endforeach()
if(NOT names STREQUAL expected)
  list(APPEND bad "exports: ${names}; expected: ${expected}")
endif()
if(bad)
  message(FATAL_ERROR "${DLL}: ${bad}")
endif()
list(LENGTH names n)
message(STATUS "${DLL}: ${n} undecorated exports")
