# Images in and out (host/app/image): PNG through libpng (with zlib, and
# libdeflate's checksum for the fast writer), OpenEXR through the OpenEXR
# library, image limits, EXR cameras. The libraries are
# private: users of the image code see only its own types.
find_package(PNG REQUIRED)
find_package(ZLIB REQUIRED)
find_package(OpenEXR CONFIG REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)

file(GLOB VELUMBRA_IMAGE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/host/app/image/*.cpp)
add_library(velumbra_image STATIC ${VELUMBRA_IMAGE_SOURCES})
target_link_libraries(velumbra_image PUBLIC velumbra_base hostsdk PRIVATE PNG::PNG ZLIB::ZLIB PkgConfig::LIBDEFLATE OpenEXR::OpenEXR OpenEXR::OpenEXRCore)
