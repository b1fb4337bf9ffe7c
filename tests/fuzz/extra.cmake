# The replay runs the fuzz targets' own functions over the committed corpus
# and regressions, and checks the param_list seed against the real block.
target_link_libraries(test_fuzz PRIVATE velumbra_fuzz_targets)
target_compile_definitions(test_fuzz PRIVATE VELUMBRA_SOURCE_DIR_FALLBACK="${CMAKE_SOURCE_DIR}")
