# The velumbra command's library (host/app, top level): the frame driver,
# module loader, progress, frame ranges, output names and plan, star table.
# The sub-commands and main() are the executable's own (65-velumbra.cmake).
set(VELUMBRA_APP_SOURCES
  ${CMAKE_SOURCE_DIR}/host/app/farm/farm.cpp
  ${CMAKE_SOURCE_DIR}/host/app/farm/farm_wait.cpp
  ${CMAKE_SOURCE_DIR}/host/app/frame_range.cpp
  ${CMAKE_SOURCE_DIR}/host/app/output/frame_writer.cpp
  ${CMAKE_SOURCE_DIR}/host/app/memory_budget.cpp
  ${CMAKE_SOURCE_DIR}/host/app/farm/memory_estimate.cpp
  ${CMAKE_SOURCE_DIR}/host/app/output/output_format.cpp
  ${CMAKE_SOURCE_DIR}/host/app/output/output_name.cpp
  ${CMAKE_SOURCE_DIR}/host/app/output/output_plan.cpp
  ${CMAKE_SOURCE_DIR}/host/app/progress.cpp
  ${CMAKE_SOURCE_DIR}/host/app/render_frame.cpp
  ${CMAKE_SOURCE_DIR}/host/app/farm/slurm.cpp
  ${CMAKE_SOURCE_DIR}/host/app/commands/star_table.cpp)
# What every host of the effect module shares (the velumbra command, the
# frei0r plug-in): loading modules, and the render camera handed to the
# effect.
add_library(velumbra_host STATIC
  ${CMAKE_SOURCE_DIR}/host/app/module_loader.cpp
  ${CMAKE_SOURCE_DIR}/host/app/render_camera.cpp)
target_link_libraries(velumbra_host PUBLIC velumbra_base hostsdk)

add_library(velumbra_app STATIC ${VELUMBRA_APP_SOURCES})
find_package(Threads REQUIRED)
target_link_libraries(velumbra_app PUBLIC velumbra_host velumbra_scene velumbra_image velumbra_base velumbra_effect hostsdk Threads::Threads)
