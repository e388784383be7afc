# cmake -DEXE=BrumelISP.exe -DARCH=amd64|x86 -P CheckManifest.cmake
#
# The manifest the executable carries names its own processor architecture (the system refuses
# an image whose manifest names another) and asks for administrator rights.
file(STRINGS ${EXE} identity REGEX "<assemblyIdentity [^>]*processorArchitecture=")
if(NOT identity)
  message(FATAL_ERROR "${EXE} carries no manifest with an assembly identity")
endif()
if(NOT identity MATCHES "processorArchitecture=\"${ARCH}\"")
  message(FATAL_ERROR "${EXE}: ${identity}; expected processorArchitecture=\"${ARCH}\"")
endif()
file(STRINGS ${EXE} level REGEX "requestedExecutionLevel level=\"requireAdministrator\"")
if(NOT level)
  message(FATAL_ERROR "${EXE}: the manifest does not ask for administrator rights")
endif()
message(STATUS "${EXE}: ${identity}")
