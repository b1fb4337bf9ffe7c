# The install and the Debian package (label install): a prefix installed,
# moved and run with a clean environment; the package built with CPack into
# a temporary folder and inspected with dpkg-deb and readelf.
add_dependencies(test_install velumbra Qe_Velumbra hostsdk qe_velumbra qe_velumbra_src blender_addon_zip)
target_link_libraries(test_install PRIVATE velumbra_host)
target_compile_definitions(test_install PRIVATE
  VELUMBRA_BUILD_DIR_FALLBACK="${CMAKE_BINARY_DIR}"
  VELUMBRA_SOURCE_DIR_FALLBACK="${CMAKE_SOURCE_DIR}")
set(test_properties LABELS install TIMEOUT 300)
