# The tests write their own PNG files of every colour type with libpng, and
# read the scene format's documentation from the source tree.
target_link_libraries(test_app PRIVATE velumbra_app PNG::PNG)
target_compile_definitions(test_app PRIVATE VELUMBRA_SOURCE_DIR_FALLBACK="${CMAKE_SOURCE_DIR}")
