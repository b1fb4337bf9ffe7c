# The resource tests run the built resource compiler and bitmap generator
# and read the committed resource files.
add_dependencies(test_${name} velumbra_rcc velumbra_about_bitmap)
target_compile_definitions(test_${name} PRIVATE
  VELUMBRA_RCC_PATH="$<TARGET_FILE:velumbra_rcc>"
  VELUMBRA_ABOUT_BITMAP_PATH="$<TARGET_FILE:velumbra_about_bitmap>"
  VELUMBRA_RESOURCES_DIR="${CMAKE_SOURCE_DIR}/resources")
