# Scene files (host/app/scene): parse, check, build host nodes, bind
# parameters, readable JSON; and the effect's parameters as the command
# lists and explains them (host/app/params: listing, notes, radio labels).
find_package(nlohmann_json 3.10 REQUIRED)

file(GLOB VELUMBRA_SCENE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/host/app/scene/*.cpp
     ${CMAKE_SOURCE_DIR}/host/app/params/*.cpp)
add_library(velumbra_scene STATIC ${VELUMBRA_SCENE_SOURCES})
target_link_libraries(velumbra_scene PUBLIC velumbra_image velumbra_base hostsdk nlohmann_json::nlohmann_json)
