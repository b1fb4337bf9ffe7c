# The tests write their own PNG files of every colour type with libpng, and
# their own EXR files (layers, data windows, tiles, chroma) with the OpenEXR
# library directly; deflate streams are inflated by zlib.
target_link_libraries(test_${name} PRIVATE velumbra_image PNG::PNG ZLIB::ZLIB OpenEXR::OpenEXR)
