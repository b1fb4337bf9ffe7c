# The velumbra command's library: scene files, image files, frame lists,
# output names, progress. Everything of host/app but its main().
find_package(PNG REQUIRED)
find_package(nlohmann_json 3.10 REQUIRED)
find_package(OpenEXR CONFIG REQUIRED)

file(GLOB VELUMBRA_APP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/host/app/*.cpp)
list(FILTER VELUMBRA_APP_SOURCES EXCLUDE REGEX "/main\\.cpp$")
add_library(velumbra_app STATIC ${VELUMBRA_APP_SOURCES})
target_link_libraries(velumbra_app PUBLIC hostsdk nlohmann_json::nlohmann_json PRIVATE PNG::PNG OpenEXR::OpenEXR)
