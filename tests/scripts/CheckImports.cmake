# cmake -DEXE=BrumelISP.exe -DOBJDUMP=x86_64-w64-mingw32-objdump -P CheckImports.cmake
#
# The tool runs elevated. A library it imports at link time that the system does not keep as a
# known DLL is looked for beside the executable first, before main runs, so a copy planted there
# would run as administrator. Every import must therefore be one of the known DLLs; the others
# are loaded at run time from System32.
set(known advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32
    msctf msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi
    user32 wldap32 ws2_32)

execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed (${rc})")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
if(NOT lines)
  message(FATAL_ERROR "no import table found in ${EXE}")
endif()
set(bad "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" name)
  string(REGEX REPLACE "\\.dll$" "" name "${name}")
  list(FIND known "${name}" at)
  if(at LESS 0)
    list(APPEND bad "${dll}")
  endif()
  message(STATUS "imports ${dll}")
endforeach()
if(bad)
  message(FATAL_ERROR "${EXE} imports libraries that are not known system DLLs: ${bad}")
endif()
