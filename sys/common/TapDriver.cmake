# Build rules of the driver framework. Each product (Monotap, Polytap) compiles the framework in this
# folder together with its own sources; the product's folder supplies TapProduct.h, the product constants
# and hooks that the framework includes.

set(TAP_SYS_COMMON_DIR ${CMAKE_CURRENT_LIST_DIR})

# Framework sources that are pure touch logic: they run on bytes alone (decoder, mapping, mode
# filter, report step) and are tested without the rest of the driver.
set(TAP_SYS_COMMON_LOGIC_SOURCES
  ${TAP_SYS_COMMON_DIR}/Packet.cpp
  ${TAP_SYS_COMMON_DIR}/PointerEngine.cpp
)

# The rest of the framework: entry and devices, PnP, power, parameters, serial link, beep thread
# and control device. Compiled into each product's driver module.
set(TAP_SYS_COMMON_DRIVER_SOURCES
  ${TAP_SYS_COMMON_DIR}/Driver.cpp
  ${TAP_SYS_COMMON_DIR}/Pnp.cpp
  ${TAP_SYS_COMMON_DIR}/Power.cpp
  ${TAP_SYS_COMMON_DIR}/Parameters.cpp
  ${TAP_SYS_COMMON_DIR}/SerialLink.cpp
  ${TAP_SYS_COMMON_DIR}/Beep.cpp
  ${TAP_SYS_COMMON_DIR}/ControlDevice.cpp
)

# Compile settings of kernel-mode code on both targets.
function(tap_kernel_code target line_dir)
  target_include_directories(${target} PUBLIC ${TAP_SYS_COMMON_DIR} ${line_dir})
  target_link_libraries(${target} PUBLIC tap_shared)
  # Pool tags are four-character constants by design.
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti> -Wno-multichar)
  if(TAP_WINDOWS)
    target_include_directories(${target} SYSTEM PUBLIC ${TAP_DDK_INCLUDE_DIR})
    # The mingw DDK headers define these intrinsics a second time in C++ unless told they exist.
    target_compile_definitions(${target} PUBLIC
      _X86_=1 i386=1 STD_CALL _WIN32_WINNT=0x0501 WINVER=0x0501 NTDDI_VERSION=0x05010000
      # The DDK tests NTDDI_WINVISTA, which its version header never defines.
      NTDDI_WINVISTA=0x06000000
      __INTRINSIC_DEFINED_InterlockedBitTestAndSet __INTRINSIC_DEFINED_InterlockedBitTestAndReset)
    target_compile_options(${target} PRIVATE -fno-builtin -fno-stack-protector -fno-threadsafe-statics
      -fno-asynchronous-unwind-tables -fno-unwind-tables)
  else()
    target_link_libraries(${target} PUBLIC tap_kernel)
  endif()
endfunction()

# A product's loadable driver module from its sources and its logic library.
#  windows-x86: <name>.sys, a PE32 image of the native subsystem whose entry is DriverEntry and
#               whose only imports are ntoskrnl.exe and HAL.dll (no C or C++ runtime; libgcc only
#               for 64-bit division helpers).
#  host:        <name>.so, which the simulated PC's PnP manager loads with dlopen and whose
#               DriverEntry it calls. Only DriverEntry is exported, so every loaded driver keeps
#               its own driver-wide records.
function(tap_driver_module target logic_library)
  add_library(${target} MODULE ${ARGN})
  tap_kernel_code(${target} ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE ${logic_library})
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${target})
  if(TAP_WINDOWS)
    set_target_properties(${target} PROPERTIES SUFFIX ".sys")
    target_link_options(${target} PRIVATE
      -nostdlib -shared
      -Wl,--subsystem,native
      -Wl,--entry,_DriverEntry@8
      -Wl,--image-base,0x10000
      -Wl,--file-alignment,0x200
      -Wl,--section-alignment,0x1000
      -Wl,--stack,0x40000
      -Wl,--exclude-all-symbols
      -Wl,--disable-auto-import
      -s)
    target_link_libraries(${target} PRIVATE ntoskrnl hal gcc)
  else()
    set_target_properties(${target} PROPERTIES SUFFIX ".so")
    # Kernel imports resolve against libtap_kernel when the image is loaded, as on Windows.
    target_link_options(${target} PRIVATE -Wl,--version-script=${TAP_SYS_COMMON_DIR}/DriverModule.map)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${TAP_SYS_COMMON_DIR}/DriverModule.map)
  endif()
endfunction()
