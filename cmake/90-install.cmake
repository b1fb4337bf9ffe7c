# Installing and packaging. `cmake --install build --prefix P` (and `make
# install PREFIX=P`) lays out a relocatable prefix:
#   bin/velumbra                          RUNPATH $ORIGIN/../lib/qe_velumbra
#   lib/qe_velumbra/libhostsdk.so         the host SDK, shared by every host and module
#   lib/qe_velumbra/Qe_Velumbra.dlv       the effect module, RUNPATH $ORIGIN
#   lib/frei0r-1/qe_velumbra{,_src}.so    the frei0r plug-ins, RUNPATH $ORIGIN/../qe_velumbra
#   share/doc/qe-velumbra/                README, docs, pictures
#   share/qe_velumbra/scenes/             the example scenes
#   share/qe_velumbra/ocio/config.ocio    the built-in OpenColorIO config, as text
#   share/qe_velumbra/blender/qe_velumbra.zip   the Blender add-on
# Every run path is relative to the file that carries it and each host finds
# the module folder relative to itself (module_loader.h), so the prefix can
# be moved or copied whole. `make package` builds a Debian package of the
# same install (CPack's DEB generator) with dependencies from dpkg-shlibdeps.

set(VELUMBRA_LIB_DIR lib/qe_velumbra)
set(VELUMBRA_DOC_DIR share/doc/qe-velumbra)
set(VELUMBRA_DATA_DIR share/qe_velumbra)

set_target_properties(velumbra PROPERTIES INSTALL_RPATH "\$ORIGIN/../${VELUMBRA_LIB_DIR}")
set_target_properties(Qe_Velumbra hostsdk PROPERTIES INSTALL_RPATH "\$ORIGIN")

install(TARGETS velumbra RUNTIME DESTINATION bin COMPONENT velumbra)
install(TARGETS hostsdk Qe_Velumbra LIBRARY DESTINATION ${VELUMBRA_LIB_DIR} COMPONENT velumbra)
install(TARGETS qe_velumbra qe_velumbra_src LIBRARY DESTINATION lib/frei0r-1 COMPONENT velumbra)

install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${VELUMBRA_DOC_DIR} COMPONENT velumbra)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${VELUMBRA_DOC_DIR} COMPONENT velumbra)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/scenes/ DESTINATION ${VELUMBRA_DATA_DIR}/scenes COMPONENT velumbra)
# The built-in OpenColorIO config (the binary carries its own copy): to read,
# and to edit and pass to --ocio.
install(FILES ${CMAKE_SOURCE_DIR}/host/app/colour/config.ocio DESTINATION ${VELUMBRA_DATA_DIR}/ocio COMPONENT velumbra)

# The Blender add-on as the zip Blender's Add-ons > Install... takes: the
# package folder at the top of the archive.
set(BLENDER_ADDON_ZIP ${CMAKE_BINARY_DIR}/qe_velumbra-blender.zip)
# Only the sources: a __pycache__ left by Blender stays out.
file(GLOB BLENDER_ADDON_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/integrations/blender/qe_velumbra/*.py)
set(BLENDER_ADDON_ENTRIES "")
foreach(f IN LISTS BLENDER_ADDON_FILES)
  file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR}/integrations/blender ${f})
  list(APPEND BLENDER_ADDON_ENTRIES ${rel})
endforeach()
add_custom_command(
  OUTPUT ${BLENDER_ADDON_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${BLENDER_ADDON_ZIP}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${BLENDER_ADDON_ZIP} --format=zip -- ${BLENDER_ADDON_ENTRIES}
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/integrations/blender
  DEPENDS ${BLENDER_ADDON_FILES}
  COMMENT "Zipping the Blender add-on"
  VERBATIM)
add_custom_target(blender_addon_zip ALL DEPENDS ${BLENDER_ADDON_ZIP})
install(FILES ${BLENDER_ADDON_ZIP} DESTINATION ${VELUMBRA_DATA_DIR}/blender RENAME qe_velumbra.zip
        COMPONENT velumbra)

# --- the Debian package ------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qe-velumbra)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Qe_Velumbra maintainers <maintainers@qe-velumbra.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "star-field render effect, its velumbra command and frei0r plug-ins")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Qe_Velumbra paints a seeded, camera-matched star field into rendered frames, with\nmotion blur, twinkle and hyperspace streaks. This package holds the velumbra\ncommand (render, farm, panel), the effect module, frei0r plug-ins for ffmpeg,\nMLT (Kdenlive, Shotcut) and GStreamer, example scenes and the Blender add-on.")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The libraries' Debian names (libpng16-16, libopenexr-3-1-30, ...) from
# dpkg-shlibdeps; the package's own private folder holds libhostsdk.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackConfig.cmake)
set(CPACK_SOURCE_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackSourceConfig.cmake)
include(CPack)
