# tap_add_resources(<target> <script.rc> [SYMBOL <name>] [INCLUDE_DIRS <dir>...])
#
# Compiles a tool's resource script into <target>, the same script on both targets:
#   windows-x86  windres turns it into an object with a real resource section;
#   host         taprc turns it into a C++ source defining `const tap::res::ResourceModule <name>`
#                (default name: tapResources_<target>), compiled into <target>.
# The script's own folder is always searched for #include files and for icon and bitmap files.
include_guard(GLOBAL)

function(tap_add_resources target script)
  cmake_parse_arguments(PARSE_ARGV 2 ARG "" "SYMBOL" "INCLUDE_DIRS")
  get_filename_component(script ${script} ABSOLUTE)
  get_filename_component(script_dir ${script} DIRECTORY)
  get_filename_component(script_name ${script} NAME_WE)
  set(include_dirs ${script_dir} ${ARG_INCLUDE_DIRS})

  if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
    # windres reports no dependencies: rebuild on any change of a header, script or image beside it.
    file(GLOB script_inputs ${script_dir}/*.h ${script_dir}/*.rc ${script_dir}/*.ico ${script_dir}/*.bmp)
    set(object ${CMAKE_CURRENT_BINARY_DIR}/${script_name}.rc.obj)
    set(include_flags)
    foreach(dir ${include_dirs})
      list(APPEND include_flags -I ${dir})
    endforeach()
    add_custom_command(
      OUTPUT ${object}
      COMMAND ${CMAKE_RC_COMPILER} --target=pe-i386 ${include_flags} -i ${script} -o ${object}
      DEPENDS ${script} ${script_inputs}
      WORKING_DIRECTORY ${script_dir}
      COMMENT "windres ${script_name}.rc"
      VERBATIM)
    set_source_files_properties(${object} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
    target_sources(${target} PRIVATE ${object})
    return()
  endif()

  if(ARG_SYMBOL)
    set(symbol ${ARG_SYMBOL})
  else()
    string(MAKE_C_IDENTIFIER "tapResources_${target}" symbol)
  endif()
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${script_name}_${target}.rc.cpp)
  set(depfile ${CMAKE_CURRENT_BINARY_DIR}/${script_name}_${target}.rc.d)
  set(include_flags)
  foreach(dir ${include_dirs})
    list(APPEND include_flags -I ${dir})
  endforeach()
  add_custom_command(
    OUTPUT ${output}
    COMMAND taprc ${include_flags} --symbol ${symbol} --depfile ${depfile} -o ${output} ${script}
    DEPENDS taprc ${script}
    DEPFILE ${depfile}
    COMMENT "taprc ${script_name}.rc"
    VERBATIM)
  target_sources(${target} PRIVATE ${output})
  target_link_libraries(${target} PUBLIC tap_resources)
endfunction()
