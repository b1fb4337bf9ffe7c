# What every host of the effect module shares (the velumbra command, the
# frei0r plug-in): loading modules, and the render camera handed to the
# effect.
add_library(velumbra_host STATIC
  ${CMAKE_SOURCE_DIR}/host/app/module_loader.cpp
  ${CMAKE_SOURCE_DIR}/host/app/render_camera.cpp)
target_link_libraries(velumbra_host PUBLIC velumbra_base hostsdk)

# The velumbra command's library: the frame driver, progress and frame
# ranges (host/app, top level), the output side (host/app/output: names,
# formats, the plan, the frame writer) and the farm (host/app/farm: Slurm
# submission, waiting, resuming, the memory estimate). The sub-commands and
# main() are host/app/commands (65-velumbra.cmake).
file(GLOB VELUMBRA_APP_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/host/app/*.cpp
  ${CMAKE_SOURCE_DIR}/host/app/output/*.cpp
  ${CMAKE_SOURCE_DIR}/host/app/farm/*.cpp)
list(FILTER VELUMBRA_APP_SOURCES EXCLUDE REGEX "/host/app/(module_loader|render_camera)\\.cpp$")
add_library(velumbra_app STATIC ${VELUMBRA_APP_SOURCES} ${CMAKE_SOURCE_DIR}/host/app/commands/star_table.cpp)
find_package(Threads REQUIRED)
# The effect is reached only through the modules it loads (their class
# descriptors and the interfaces their objects hand out): never linked here.
target_link_libraries(velumbra_app PUBLIC velumbra_host velumbra_scene velumbra_image velumbra_colour velumbra_base hostsdk Threads::Threads)
