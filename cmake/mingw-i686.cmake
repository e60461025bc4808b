# Toolchain for the real package: 32-bit Windows, mingw-w64 i686 cross compiler (Debian package
# g++-mingw-w64-i686) with the DDK headers it ships under include/ddk.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TAP_MINGW_PREFIX i686-w64-mingw32)

find_program(CMAKE_C_COMPILER ${TAP_MINGW_PREFIX}-gcc)
find_program(CMAKE_CXX_COMPILER ${TAP_MINGW_PREFIX}-g++)
find_program(CMAKE_RC_COMPILER ${TAP_MINGW_PREFIX}-windres)
if(NOT CMAKE_CXX_COMPILER)
  message(FATAL_ERROR "The windows-x86 build needs the Debian package g++-mingw-w64-i686")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${TAP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(TAP_DDK_INCLUDE_DIR /usr/${TAP_MINGW_PREFIX}/include/ddk)
