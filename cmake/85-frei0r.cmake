# The frei0r plug-ins (integrations/frei0r): qe_velumbra.so, a filter, and
# qe_velumbra_src.so, a source, for ffmpeg's frei0r filters, MLT (Kdenlive,
# Shotcut) and GStreamer's frei0r elements. A second host of the effect
# module: they load Qe_Velumbra.dlv and reach the effect through its class
# descriptor and the host SDK, linking none of the effect's code. Built into
# build/frei0r-1/, a folder a host can be pointed at (FREI0R_PATH), whose
# parent holds the module.
find_path(FREI0R_INCLUDE_DIR frei0r.h)
if(NOT FREI0R_INCLUDE_DIR)
  message(FATAL_ERROR "frei0r.h not found: install the Debian package frei0r-plugins-dev (packages.txt)")
endif()

set(FREI0R_SOURCES
  ${CMAKE_SOURCE_DIR}/integrations/frei0r/frei0r_params.cpp
  ${CMAKE_SOURCE_DIR}/integrations/frei0r/star_filter.cpp
  ${CMAKE_SOURCE_DIR}/integrations/frei0r/plugin_exports.cpp)
foreach(plugin qe_velumbra qe_velumbra_src)
  add_library(${plugin} MODULE ${FREI0R_SOURCES})
  target_include_directories(${plugin} PRIVATE ${FREI0R_INCLUDE_DIR})
  # velumbra_scene for the host's rules of time and radio labels; the
  # static libraries give only the objects used, and --as-needed keeps
  # their image libraries out of the plug-in's dependencies.
  target_link_libraries(${plugin} PRIVATE velumbra_host velumbra_scene hostsdk)
  # -z nodelete: a host's dlclose leaves the plug-in (and the module it
  # loaded, whose worker threads stay parked) in place (plugin_exports.cpp).
  target_link_options(${plugin} PRIVATE -Wl,--as-needed -Wl,--no-undefined -Wl,-z,nodelete
    -Wl,--version-script=${CMAKE_SOURCE_DIR}/integrations/frei0r/exports.map)
  set_target_properties(${plugin} PROPERTIES
    PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/frei0r-1
    LINK_DEPENDS ${CMAKE_SOURCE_DIR}/integrations/frei0r/exports.map
    BUILD_RPATH "\$ORIGIN/.."
    INSTALL_RPATH "\$ORIGIN/../qe_velumbra")
  if(TARGET Qe_Velumbra)
    add_dependencies(${plugin} Qe_Velumbra)
  endif()
endforeach()
target_compile_definitions(qe_velumbra_src PRIVATE QE_VELUMBRA_FREI0R_SOURCE)

# The parameter table of docs/frei0r-parameters.md, from the module's block.
add_executable(qe_velumbra_frei0r_params ${CMAKE_SOURCE_DIR}/integrations/frei0r/params_doc_main.cpp
  ${CMAKE_SOURCE_DIR}/integrations/frei0r/frei0r_params.cpp)
target_link_libraries(qe_velumbra_frei0r_params PRIVATE velumbra_host velumbra_scene hostsdk)
target_link_options(qe_velumbra_frei0r_params PRIVATE -Wl,--as-needed)
