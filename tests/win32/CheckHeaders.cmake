# Header conformance: every constant the host's Win32 headers define must have the value of the
# real header, and every routine they declare the real signature.
#
#   cmake -DOURS=<platform/win32/include> -DREAL=<mingw include dir> -DCXX=<mingw g++>
#         -DPROBE=<HeaderProbe.h> -DOUT=<work dir> -P CheckHeaders.cmake
#
# Object-like macros become static_asserts compiled against the real headers; handle constants
# (pointers, which no constant expression can compare) are compared as text, blanks ignored.
# Function declarations become decltype checks; HeaderProbe.h adds types and record layouts.
cmake_minimum_required(VERSION 3.20)

set(skip WINAPI APIENTRY CALLBACK WINBASEAPI WINADVAPI WINSETUPAPI CONST VOID STRICT NULL DEVICE_TYPE)
file(GLOB headers ${OURS}/*.h)
set(asserts "")
set(failures "")
set(real_text "")
foreach(real_header winnt.h winreg.h winbase.h fileapi.h handleapi.h minwindef.h windef.h winerror.h winioctl.h
        minwinbase.h)
  file(READ ${REAL}/${real_header} text)
  string(APPEND real_text "${text}\n")
endforeach()
string(REGEX REPLACE "[ \t]+" "" real_compact "${real_text}")

set(macro_count 0)
set(function_count 0)
foreach(header ${headers})
  file(READ ${header} text)
  string(REGEX REPLACE "\\\\\n" " " text "${text}") # join continued lines
  string(REGEX MATCHALL "#define[ \t]+[A-Za-z_][A-Za-z0-9_]*[ \t]+[^\n]+" defines "${text}")
  foreach(define ${defines})
    string(REGEX REPLACE "#define[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t]+(.*)" "\\1" name "${define}")
    string(REGEX REPLACE "#define[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t]+(.*)" "\\2" value "${define}")
    string(REGEX REPLACE "/\\*.*\\*/" "" value "${value}")
    string(STRIP "${value}" value)
    if(name IN_LIST skip OR name MATCHES "^_")
      continue()
    endif()
    if(value MATCHES "\\((HKEY|HANDLE)\\)")
      string(REGEX REPLACE "[ \t]+" "" compact "#define${name}${value}")
      string(FIND "${real_compact}" "${compact}" at)
      if(at EQUAL -1)
        list(APPEND failures "${name}: '${value}' is not the real definition")
      endif()
    else()
      string(APPEND asserts "static_assert((unsigned long long)(${name}) == (unsigned long long)(${value}), \"${name}\");\n")
    endif()
    math(EXPR macro_count "${macro_count} + 1")
  endforeach()
  string(REGEX MATCHALL "WIN(BASE|ADV|SETUP)API[ \t]+[^;]+\\)" functions "${text}")
  foreach(function ${functions})
    string(REGEX REPLACE "[ \t\n]+" " " function "${function}")
    string(REGEX REPLACE "WIN(BASE|ADV|SETUP)API (.+) WINAPI ([A-Za-z0-9_]+) ?\\((.*)\\)" "\\2;\\3;\\4" parts "${function}")
    list(GET parts 0 result)
    list(GET parts 1 name)
    list(GET parts 2 parameters)
    string(APPEND asserts
      "static_assert(std::is_same<decltype(&${name}), ${result} (WINAPI *)(${parameters})>::value, \"${name}\");\n")
    math(EXPR function_count "${function_count} + 1")
  endforeach()
endforeach()

file(WRITE ${OUT}/HeaderConformance.cpp
  "#include <windows.h>\n#include <winioctl.h>\n#include <cpl.h>\n#include <setupapi.h>\n#include <newdev.h>\n#include <type_traits>\n#include \"${PROBE}\"\n${asserts}")
execute_process(
  COMMAND ${CXX} -std=c++17 -fsyntax-only -Wall -Wextra -Werror ${OUT}/HeaderConformance.cpp
  RESULT_VARIABLE result
  ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  list(APPEND failures "against the real headers:\n${errors}")
endif()
if(failures)
  list(JOIN failures "\n" message)
  message(FATAL_ERROR "Win32 header conformance failed:\n${message}")
endif()
message(STATUS "Win32 headers: ${macro_count} constants and ${function_count} routines as in the real headers")
