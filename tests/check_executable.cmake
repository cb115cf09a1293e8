# Checks the built QuellornLauncher.exe: a Windows GUI program that imports system DLLs only, so
cmake_minimum_required(VERSION 3.25)
# it runs on a plain Windows without any runtime installed beside it.
execute_process(COMMAND ${OBJDUMP} -p ${EXECUTABLE} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${EXECUTABLE}")
endif()
if(NOT dump MATCHES "Subsystem[ \t]+00000002[ \t]+\\(Windows GUI\\)")
  message(FATAL_ERROR "${EXECUTABLE} is not a Windows GUI program")
endif()

set(system_dlls
  advapi32.dll bcrypt.dll comctl32.dll dwmapi.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll
  shell32.dll user32.dll version.dll winhttp.dll ws2_32.dll)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "no imports found in ${EXECUTABLE}")
endif()
foreach(line IN LISTS imports)
  string(REGEX REPLACE "DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST system_dlls AND NOT dll MATCHES "^api-ms-win-")
    message(FATAL_ERROR "${EXECUTABLE} imports ${dll}, which is not a system DLL")
  endif()
  message(STATUS "imports ${dll}")
endforeach()
