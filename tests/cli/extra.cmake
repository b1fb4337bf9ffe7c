# End-to-end tests of the velumbra command: they run the built binary (and
# the module beside it), and read its images with the app library.
add_dependencies(test_cli velumbra Qe_Velumbra)
target_link_libraries(test_cli PRIVATE velumbra_app)
target_compile_definitions(test_cli PRIVATE
  VELUMBRA_BUILD_DIR_FALLBACK="${CMAKE_BINARY_DIR}"
  VELUMBRA_SOURCE_DIR_FALLBACK="${CMAKE_SOURCE_DIR}")
# The OpenEXR tests write their inputs with the OpenEXR library directly.
target_link_libraries(test_cli PRIVATE OpenEXR::OpenEXR)
