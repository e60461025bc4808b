# Build rules of the driver framework. Each line (Monotap, Polytap) compiles the framework in this
# folder together with its own sources; the line's folder supplies TapLine.h, the line constants
# and hooks that the framework includes.

set(TAP_SYS_COMMON_DIR ${CMAKE_CURRENT_LIST_DIR})

# Framework sources that are pure touch logic: they run on bytes alone (decoder, mapping, mode
# filter, report step) and are tested without the rest of the driver.
set(TAP_SYS_COMMON_LOGIC_SOURCES
  ${TAP_SYS_COMMON_DIR}/PointerEngine.cpp
)

# Compile settings of kernel-mode code on both targets.
function(tap_kernel_code target line_dir)
  target_include_directories(${target} PUBLIC ${TAP_SYS_COMMON_DIR} ${line_dir})
  target_link_libraries(${target} PUBLIC tap_shared)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
  if(TAP_WINDOWS)
    target_include_directories(${target} SYSTEM PUBLIC ${TAP_DDK_INCLUDE_DIR})
    # The mingw DDK headers define these intrinsics a second time in C++ unless told they exist.
    target_compile_definitions(${target} PUBLIC
      _X86_=1 i386=1 STD_CALL _WIN32_WINNT=0x0501 WINVER=0x0501 NTDDI_VERSION=0x05010000
      # The DDK tests NTDDI_WINVISTA, which its version header never defines.
      NTDDI_WINVISTA=0x06000000
      __INTRINSIC_DEFINED_InterlockedBitTestAndSet __INTRINSIC_DEFINED_InterlockedBitTestAndReset)
    target_compile_options(${target} PRIVATE -fno-builtin -fno-stack-protector -fno-threadsafe-statics)
  else()
    target_link_libraries(${target} PUBLIC tap_kernel)
  endif()
endfunction()
