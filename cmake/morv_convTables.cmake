# morv_conv_add_tables(<target> DOCUMENTS <document>... [OUTPUT_DIRECTORY <dir>]
#                      [CHECK])
#
# Adds the custom target <target>, built by default, that converts each
# document into <dir>/<the document's name without its extension>.bin with
# morv_conv::morv_conv. <dir> defaults to the current binary directory;
# relative document paths are taken from the current source directory. Each
# document has a command of its own that depends on the document and on the
# converter, so a build reconverts exactly the documents that changed (or
# all of them when the converter changed). A document the converter refuses
# fails the build with the converter's message.
#
# With CHECK, each table also has a CTest test <target>.<name> (where the
# project calls enable_testing) that runs
# `morv_conv::morv_dump --document <document> <table>`: it fails, naming the
# first step that differs, when the table is not the one its document gives,
# such as a table changed after the build.
function(morv_conv_add_tables target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "CHECK" "OUTPUT_DIRECTORY" "DOCUMENTS")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "morv_conv_add_tables: unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_DOCUMENTS)
    message(FATAL_ERROR "morv_conv_add_tables: no DOCUMENTS given")
  endif()
  if(NOT TARGET morv_conv::morv_conv)
    message(FATAL_ERROR "morv_conv_add_tables: no morv_conv::morv_conv (find_package(morv_conv))")
  endif()
  set(directory "${CMAKE_CURRENT_BINARY_DIR}")
  if(arg_OUTPUT_DIRECTORY)
    cmake_path(ABSOLUTE_PATH arg_OUTPUT_DIRECTORY BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
               OUTPUT_VARIABLE directory)
  endif()

  if(arg_CHECK AND NOT TARGET morv_conv::morv_dump)
    message(FATAL_ERROR "morv_conv_add_tables: CHECK needs morv_conv::morv_dump")
  endif()

  # A cross build runs the programs through its emulator (Wine for Windows).
  if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
    set(converter ${CMAKE_CROSSCOMPILING_EMULATOR} "$<TARGET_FILE:morv_conv::morv_conv>")
    set(checker ${CMAKE_CROSSCOMPILING_EMULATOR} "$<TARGET_FILE:morv_conv::morv_dump>")
  else()
    set(converter morv_conv::morv_conv)
    set(checker "$<TARGET_FILE:morv_conv::morv_dump>")
  endif()

  set(tables)
  foreach(document IN LISTS arg_DOCUMENTS)
    cmake_path(ABSOLUTE_PATH document BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}"
               NORMALIZE OUTPUT_VARIABLE source)
    cmake_path(GET source STEM LAST_ONLY name)
    set(table "${directory}/${name}.bin")
    if(table IN_LIST tables)
      message(FATAL_ERROR "morv_conv_add_tables: two documents would both become ${table}")
    endif()
    list(APPEND tables "${table}")
    cmake_path(RELATIVE_PATH table BASE_DIRECTORY "${CMAKE_BINARY_DIR}" OUTPUT_VARIABLE shown)
    add_custom_command(
      OUTPUT "${table}"
      COMMAND "${CMAKE_COMMAND}" -E make_directory "${directory}"
      COMMAND ${converter} "${source}" "${table}"
      DEPENDS "${source}" morv_conv::morv_conv "$<TARGET_FILE:morv_conv::morv_conv>"
      COMMENT "Converting ${document} into ${shown}"
      VERBATIM)
    if(arg_CHECK)
      add_test(NAME ${target}.${name} COMMAND ${checker} --document "${source}" "${table}")
    endif()
  endforeach()
  add_custom_target(${target} ALL DEPENDS ${tables})
endfunction()
