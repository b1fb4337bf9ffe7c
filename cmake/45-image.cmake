# Images in and out (host/app/image): PNG through libpng, OpenEXR through
# the OpenEXR library, image limits, atomic files, EXR cameras. The two
# libraries are private: users of the image code see only its own types.
find_package(PNG REQUIRED)
find_package(OpenEXR CONFIG REQUIRED)

file(GLOB VELUMBRA_IMAGE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/host/app/image/*.cpp)
add_library(velumbra_image STATIC ${VELUMBRA_IMAGE_SOURCES})
target_link_libraries(velumbra_image PUBLIC velumbra_base hostsdk PRIVATE PNG::PNG OpenEXR::OpenEXR)
