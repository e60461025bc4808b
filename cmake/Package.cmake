# The package folder of the windows-x86 build, <build>/package: every deliverable side by side, the
# way the installer finds them beside itself (drivers with their INF files, programs, applets).
#
# tap_package_add([TARGETS <target>...] [FILES <file>...])   adds built targets and source files
# tap_package_stage()                                         makes the target that fills the folder;
#                                                             called once, after every deliverable
include_guard(GLOBAL)

set(TAP_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)

function(tap_package_add)
  cmake_parse_arguments(PARSE_ARGV 0 ARG "" "" "TARGETS;FILES")
  foreach(file ${ARG_FILES})
    get_filename_component(file ${file} ABSOLUTE)
    set_property(GLOBAL APPEND PROPERTY TAP_PACKAGE_FILES ${file})
  endforeach()
  set_property(GLOBAL APPEND PROPERTY TAP_PACKAGE_TARGETS ${ARG_TARGETS})
endfunction()

function(tap_package_stage)
  get_property(targets GLOBAL PROPERTY TAP_PACKAGE_TARGETS)
  get_property(files GLOBAL PROPERTY TAP_PACKAGE_FILES)
  set(sources ${files})
  foreach(target ${targets})
    list(APPEND sources $<TARGET_FILE:${target}>)
  endforeach()
  # The folder is made anew each time, so nothing stays behind of a deliverable that is gone.
  add_custom_target(tap_package ALL
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${TAP_PACKAGE_DIR}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TAP_PACKAGE_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy ${sources} ${TAP_PACKAGE_DIR}
    DEPENDS ${targets} ${files}
    COMMENT "Staging the package in ${TAP_PACKAGE_DIR}"
    VERBATIM)
endfunction()
