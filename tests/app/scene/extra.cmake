# Scene files; the documentation test reads docs/ from the source tree.
target_link_libraries(test_${name} PRIVATE velumbra_app)
target_compile_definitions(test_${name} PRIVATE VELUMBRA_SOURCE_DIR_FALLBACK="${CMAKE_SOURCE_DIR}")
