# The real sky against astropy (CTest label astropy): catalogue stars
# rendered by the velumbra command, their places and light measured in the
# OpenEXR output's stars.* layer, checked against Debian's python3-astropy
# (/usr/bin/python3, offline) through the same camera (sky_positions.py).
add_dependencies(test_astropy velumbra Qe_Velumbra)
target_link_libraries(test_astropy PRIVATE OpenEXR::OpenEXR nlohmann_json::nlohmann_json)
target_compile_definitions(test_astropy PRIVATE
  VELUMBRA_BUILD_DIR_FALLBACK="${CMAKE_BINARY_DIR}"
  VELUMBRA_SOURCE_DIR_FALLBACK="${CMAKE_SOURCE_DIR}")
set(test_properties LABELS astropy TIMEOUT 300)
