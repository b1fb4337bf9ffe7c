# Colour management at the file boundary (host/app/colour): OpenColorIO
# (Debian's libopencolorio-dev, found by pkg-config) converts a plate's
# space for the output file and the scene's display colours for a linear
# plate. The library is private: only the command's own libraries see the
# colour types, and the effect module never links it.
find_package(PkgConfig REQUIRED)
pkg_check_modules(OPENCOLORIO REQUIRED IMPORTED_TARGET OpenColorIO>=2.1)

# The built-in config (host/app/colour/config.ocio) is compiled into the
# binary, so that a render needs no file beside it; the install keeps a copy
# to read and to pass to --ocio.
set(COLOUR_CONFIG ${CMAKE_SOURCE_DIR}/host/app/colour/config.ocio)
set(COLOUR_CONFIG_CPP ${CMAKE_BINARY_DIR}/generated/colour_config_text.cpp)
add_custom_command(
  OUTPUT ${COLOUR_CONFIG_CPP}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${COLOUR_CONFIG} -DOUTPUT=${COLOUR_CONFIG_CPP}
          -P ${CMAKE_SOURCE_DIR}/cmake/scripts/embed_colour_config.cmake
  DEPENDS ${COLOUR_CONFIG} ${CMAKE_SOURCE_DIR}/cmake/scripts/embed_colour_config.cmake
  COMMENT "Embedding the built-in OpenColorIO config"
  VERBATIM)

file(GLOB VELUMBRA_COLOUR_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/host/app/colour/*.cpp)
add_library(velumbra_colour STATIC ${VELUMBRA_COLOUR_SOURCES} ${COLOUR_CONFIG_CPP})
target_link_libraries(velumbra_colour PUBLIC velumbra_image velumbra_base hostsdk PRIVATE PkgConfig::OPENCOLORIO)
