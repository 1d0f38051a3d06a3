# tarn_add_container: a firmware build's container as a build step.
#
#   tarn_add_container(NAME IMAGE <file or target> KEY_FILE <path> [OUTPUT <path>])
#
# Adds the target NAME (built by default) whose output is the container of IMAGE under the key in
# KEY_FILE, made with tarntool and made again whenever the image or the key file changes. IMAGE
# is a file, or a target whose file is the image. OUTPUT defaults to NAME.cnt in the current
# binary directory; the target's property TARN_CONTAINER names it.
find_program(TARN_TARNTOOL tarntool
  HINTS "${PACKAGE_PREFIX_DIR}/bin" ENV PATH
  DOC "tarntool, which makes the containers of tarn_add_container")

function(tarn_add_container name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "IMAGE;KEY_FILE;OUTPUT" "")
  if(NOT arg_IMAGE OR NOT arg_KEY_FILE)
    message(FATAL_ERROR "tarn_add_container(${name}): IMAGE and KEY_FILE are required")
  endif()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "tarn_add_container(${name}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT TARN_TARNTOOL)
    message(FATAL_ERROR "tarn_add_container(${name}): tarntool not found")
  endif()
  if(NOT arg_OUTPUT)
    set(arg_OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/${name}.cnt")
  endif()
  get_filename_component(key "${arg_KEY_FILE}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  if(TARGET "${arg_IMAGE}")
    set(image "$<TARGET_FILE:${arg_IMAGE}>")
    set(depends "${arg_IMAGE}")
  else()
    get_filename_component(image "${arg_IMAGE}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    set(depends "${image}")
  endif()
  add_custom_command(OUTPUT "${output}"
    COMMAND "${TARN_TARNTOOL}" encode --quiet --key-file "${key}" -o "${output}" "${image}"
    DEPENDS ${depends} "${key}"
    COMMENT "Encoding the container ${name}"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS "${output}")
  set_target_properties(${name} PROPERTIES TARN_CONTAINER "${output}")
endfunction()
