# The tests write their own EXR files (layers, data windows, tiles, chroma)
# with the OpenEXR library directly.
target_link_libraries(test_exr PRIVATE velumbra_app OpenEXR::OpenEXR)
