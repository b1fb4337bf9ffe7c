# The command's frame driver, progress and frame ranges.
target_link_libraries(test_${name} PRIVATE velumbra_app)
