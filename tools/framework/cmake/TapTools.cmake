# The deliverables a tool folder builds, one call each:
#
# tap_add_tool_program(<name> LIBRARY <library> ENTRY <source>... RESOURCES <script.rc> [SYMBOL <symbol>]
#                      [FOLDER <dir>] [IMAGE <image>])
#   A program (SideSwitch, MonoAlign, MonoSetup ...).
#   windows-x86  <name>.exe: a GUI-subsystem PE32 program made of ENTRY (WinMain), LIBRARY (the
#                tool's classes on the framework) and the script's resources, with a manifest as
#                resource 1 so that Windows XP and later give it the common controls of the
#                system's look. The C and C++ runtimes are linked in statically, so the program
#                imports system DLLs only. Staged into the package folder, which is flat: FOLDER
#                (where the program is installed under the Windows directory) is the installer's.
#   host         the script's resources are compiled into LIBRARY (tables named SYMBOL, by default
#                tapResources_<library>), and ENTRY with LIBRARY becomes the program module of the
#                simulated PC, <name>.exe.so, installed in FOLDER as IMAGE.exe (tap_add_program).
#
# tap_add_control_panel_applet(<target> LIBRARY <library> ENTRY <source>... RESOURCES <script.rc>
#                              [FILE <name>] [SETTING <word>] [SYMBOL <symbol>] [DEF <file.def>])
#   A Control Panel applet (MonoPanel, PolyPanel), whose file is FILE.cpl (default: <target>).
#   windows-x86  FILE.cpl: a DLL exporting CPlApplet by that plain name (ENTRY defines it as
#                `LONG APIENTRY CPlApplet(HWND, UINT, LPARAM, LPARAM)` and DllMain; the export
#                list is DEF, or one made here), with its manifest as resource 123, the one the
#                Control Panel activates for an applet. Static runtimes, staged into the package.
#   host         the resources go into LIBRARY (tables named SYMBOL), and ENTRY with LIBRARY
#                becomes the applet module of the simulated PC, FILE.cpl.so (tap_add_applet_module),
#                listed with SETTING (which driver setting it was built with) for the bench.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/TapResources.cmake)

# The manifest resource of a deliverable: an object made by windres from a one-line script.
function(_tap_add_manifest target name resource_id)
  set(TAP_MANIFEST_NAME ${name})
  set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${name}.manifest)
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}.manifest.rc)
  set(object ${CMAKE_CURRENT_BINARY_DIR}/${name}.manifest.rc.obj)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../win32/Program.manifest.in ${manifest} @ONLY)
  # 24 is RT_MANIFEST.
  file(CONFIGURE OUTPUT ${script} CONTENT "${resource_id} 24 \"${name}.manifest\"\n" @ONLY)
  add_custom_command(
    OUTPUT ${object}
    COMMAND ${CMAKE_RC_COMPILER} --target=pe-i386 -i ${script} -o ${object}
    DEPENDS ${script} ${manifest}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    COMMENT "windres ${name}.manifest"
    VERBATIM)
  set_source_files_properties(${object} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  target_sources(${target} PRIVATE ${object})
endfunction()

# What every deliverable of a tool has on Windows: its resources, static runtimes, no symbols.
function(_tap_windows_deliverable target library script)
  tap_add_resources(${target} ${script})
  target_link_libraries(${target} PRIVATE ${library})
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++ -mwindows -s)
  tap_package_add(TARGETS ${target})
endfunction()

function(tap_add_tool_program name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "LIBRARY;RESOURCES;SYMBOL;FOLDER;IMAGE" "ENTRY")
  if(NOT ARG_LIBRARY OR NOT ARG_ENTRY OR NOT ARG_RESOURCES)
    message(FATAL_ERROR "tap_add_tool_program(${name}): LIBRARY, ENTRY and RESOURCES are required")
  endif()
  if(NOT ARG_IMAGE)
    set(ARG_IMAGE ${name})
  endif()
  if(NOT CMAKE_SYSTEM_NAME STREQUAL "Windows")
    if(NOT ARG_SYMBOL)
      string(MAKE_C_IDENTIFIER "tapResources_${ARG_LIBRARY}" ARG_SYMBOL)
    endif()
    tap_add_resources(${ARG_LIBRARY} ${ARG_RESOURCES} SYMBOL ${ARG_SYMBOL})
    tap_add_program(${name} SOURCES ${ARG_ENTRY} LIBRARIES ${ARG_LIBRARY} RESOURCES ${ARG_SYMBOL}
      FOLDER "${ARG_FOLDER}" IMAGE ${ARG_IMAGE})
    return()
  endif()
  add_executable(${name} WIN32 ${ARG_ENTRY})
  _tap_windows_deliverable(${name} ${ARG_LIBRARY} ${ARG_RESOURCES})
  _tap_add_manifest(${name} ${name} 1)
endfunction()

function(tap_add_control_panel_applet name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "LIBRARY;RESOURCES;SYMBOL;DEF;FILE;SETTING" "ENTRY")
  if(NOT ARG_LIBRARY OR NOT ARG_ENTRY OR NOT ARG_RESOURCES)
    message(FATAL_ERROR "tap_add_control_panel_applet(${name}): LIBRARY, ENTRY and RESOURCES are required")
  endif()
  if(NOT ARG_FILE)
    set(ARG_FILE ${name})
  endif()
  if(NOT CMAKE_SYSTEM_NAME STREQUAL "Windows")
    if(NOT ARG_SYMBOL)
      string(MAKE_C_IDENTIFIER "tapResources_${ARG_LIBRARY}" ARG_SYMBOL)
    endif()
    tap_add_resources(${ARG_LIBRARY} ${ARG_RESOURCES} SYMBOL ${ARG_SYMBOL})
    tap_add_applet_module(${name} FILE ${ARG_FILE} SETTING "${ARG_SETTING}" SOURCES ${ARG_ENTRY}
      LIBRARIES ${ARG_LIBRARY} RESOURCES ${ARG_SYMBOL})
    return()
  endif()
  if(ARG_DEF)
    get_filename_component(def ${ARG_DEF} ABSOLUTE)
  else()
    # CPlApplet is __stdcall, _CPlApplet@16 to the linker; --kill-at exports it as CPlApplet.
    set(def ${CMAKE_CURRENT_BINARY_DIR}/${ARG_FILE}.def)
    file(CONFIGURE OUTPUT ${def} CONTENT "LIBRARY \"${ARG_FILE}.cpl\"\nEXPORTS\n    CPlApplet@16\n" @ONLY)
  endif()
  add_library(${name} SHARED ${ARG_ENTRY} ${def})
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".cpl" OUTPUT_NAME ${ARG_FILE})
  target_link_options(${name} PRIVATE -Wl,--kill-at)
  _tap_windows_deliverable(${name} ${ARG_LIBRARY} ${ARG_RESOURCES})
  _tap_add_manifest(${name} ${ARG_FILE} 123)
endfunction()
