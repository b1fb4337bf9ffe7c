# The velumbra panel (host/app/panel): a local web server (cpp-httplib from
# Debian's libcpp-httplib-dev) serving the effect's rollouts to a browser.
# Its page, style sheet and script (host/app/panel/assets/) are compiled into
# the binary, so the command needs no files beside it and no web build step.
# cpp-httplib (and with it TLS and compression libraries) is private to this
# library: only the command and the panel's tests link it.
find_package(PkgConfig REQUIRED)
pkg_check_modules(CPPHTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)

set(PANEL_ASSET_DIR ${CMAKE_SOURCE_DIR}/host/app/panel/assets)
set(PANEL_ASSETS ${PANEL_ASSET_DIR}/index.html ${PANEL_ASSET_DIR}/panel.css ${PANEL_ASSET_DIR}/panel.js)
set(PANEL_ASSETS_CPP ${CMAKE_BINARY_DIR}/generated/panel_assets.cpp)
add_custom_command(
  OUTPUT ${PANEL_ASSETS_CPP}
  COMMAND ${CMAKE_COMMAND} -DOUTPUT=${PANEL_ASSETS_CPP} -DASSET_DIR=${PANEL_ASSET_DIR}
          -P ${CMAKE_SOURCE_DIR}/cmake/scripts/embed_panel_assets.cmake
  DEPENDS ${PANEL_ASSETS} ${CMAKE_SOURCE_DIR}/cmake/scripts/embed_panel_assets.cmake
  COMMENT "Embedding the panel's page, style sheet and script"
  VERBATIM)

file(GLOB VELUMBRA_PANEL_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/host/app/panel/*.cpp)
add_library(velumbra_panel STATIC ${VELUMBRA_PANEL_SOURCES} ${PANEL_ASSETS_CPP})
target_link_libraries(velumbra_panel PUBLIC velumbra_app PRIVATE PkgConfig::CPPHTTPLIB)
