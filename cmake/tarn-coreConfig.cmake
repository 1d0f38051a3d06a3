# libtarn's core as sources, for firmware: find_package(tarn-core) gives the target tarn::core,
# whose one C file (tarn_core.c, C99, with tarn.h beside it) the firmware compiles with its own
# compiler and flags, for the processor it names. Nothing is prebuilt.
get_filename_component(_tarn_core_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(NOT TARGET tarn::core)
  add_library(tarn::core INTERFACE IMPORTED)
  set_target_properties(tarn::core PROPERTIES
    INTERFACE_SOURCES "${_tarn_core_prefix}/share/tarn-core/tarn_core.c"
    INTERFACE_INCLUDE_DIRECTORIES "${_tarn_core_prefix}/share/tarn-core")
endif()
unset(_tarn_core_prefix)
