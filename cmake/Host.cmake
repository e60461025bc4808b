# Host build settings shared by every module of the simulated PC.
#
# Windows is LLP64 with a 16-bit WCHAR. Driver modules, the kernel stand-in and everything that
# shares their records are compiled with -fshort-wchar so that L"..." literals are UTF-16 as on
# Windows. No host code uses the C library's wide-character functions.
add_compile_options(-fshort-wchar)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

find_package(Threads REQUIRED)
find_package(GTest REQUIRED)
include(GoogleTest)

set(TAP_SANITIZER "" CACHE STRING "Sanitizer of this host build: '', 'address' (with undefined) or 'thread'")
if(TAP_SANITIZER STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(TAP_SANITIZER STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Adds every subdirectory of DIR that has a CMakeLists.txt, in name order, so that each room of the
# tree plugs itself in.
function(tap_add_subdirectories dir)
  file(GLOB children RELATIVE ${dir} ${dir}/*/CMakeLists.txt)
  list(SORT children)
  foreach(child ${children})
    get_filename_component(sub ${child} DIRECTORY)
    add_subdirectory(${dir}/${sub})
  endforeach()
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/TapProgram.cmake)
