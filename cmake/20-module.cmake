# The loadable module Qe_Velumbra.dlv: the effect's objects as a shared
# library beside the velumbra binary, linked to the host SDK (so that the
# host and every module share one hostsdk) and exporting only the names the
# host looks up: the exports of resources/Qe_Velumbra.def, the entry routine
# and the module's resources. Everything else is local to the module, so
# that two modules never resolve each other's symbols.

set(VELUMBRA_DEF ${CMAKE_SOURCE_DIR}/resources/Qe_Velumbra.def)
set(VELUMBRA_VERSION_SCRIPT ${CMAKE_BINARY_DIR}/generated/Qe_Velumbra.map)
set(VELUMBRA_DEF_SCRIPT ${CMAKE_SOURCE_DIR}/cmake/scripts/def_to_version_script.cmake)

add_custom_command(
  OUTPUT ${VELUMBRA_VERSION_SCRIPT}
  COMMAND ${CMAKE_COMMAND}
          -DDEF_FILE=${VELUMBRA_DEF}
          -DOUTPUT=${VELUMBRA_VERSION_SCRIPT}
          -DLIBRARY_NAME=Qe_Velumbra.dlv
          -DEXTRA_EXPORTS=DllMain,HostModuleResources
          -P ${VELUMBRA_DEF_SCRIPT}
  DEPENDS ${VELUMBRA_DEF} ${VELUMBRA_DEF_SCRIPT}
  COMMENT "Generating the export list of Qe_Velumbra.dlv from resources/Qe_Velumbra.def"
  VERBATIM)
add_custom_target(Qe_Velumbra_exports DEPENDS ${VELUMBRA_VERSION_SCRIPT})

# Linking the object library directly brings its objects and its usage
# requirements (hostsdk and whatever else the effect needs).
add_library(Qe_Velumbra MODULE)
add_dependencies(Qe_Velumbra Qe_Velumbra_exports)
target_link_libraries(Qe_Velumbra PRIVATE velumbra_effect_obj hostsdk)
set_target_properties(Qe_Velumbra PROPERTIES
  PREFIX ""
  SUFFIX ".dlv"
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
  LINK_DEPENDS ${VELUMBRA_VERSION_SCRIPT})
# Every symbol the module uses comes from hostsdk or the C++ runtime: an
# undefined one is a link error now, not a load error later.
target_link_options(Qe_Velumbra PRIVATE
  -Wl,--version-script=${VELUMBRA_VERSION_SCRIPT}
  -Wl,--no-undefined)
