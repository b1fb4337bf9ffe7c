# The velumbra command: main() registers the sub-commands (one file each,
# host/app/commands/*_command.cpp) and maps their errors to exit codes.
find_package(CLI11 REQUIRED)

# The sub-commands but the panel's, as a library that tests can drive
# in-process (the farm's checks at submission); the panel's registration is
# the executable's own, so that the web server's libraries stay out of
# every other test binary.
file(GLOB VELUMBRA_COMMAND_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/host/app/commands/*_command.cpp
     ${CMAKE_SOURCE_DIR}/host/app/commands/render_options.cpp)
list(FILTER VELUMBRA_COMMAND_SOURCES EXCLUDE REGEX "/panel_command\\.cpp$")
add_library(velumbra_commands STATIC ${VELUMBRA_COMMAND_SOURCES} ${CMAKE_SOURCE_DIR}/host/app/commands/module_options.cpp)
target_link_libraries(velumbra_commands PUBLIC velumbra_app CLI11::CLI11)

# The executable holds none of the effect's code: `velumbra stars` and the
# memory estimate ask the loaded module's effects (host/sdk/istar_field.h).
add_executable(velumbra ${CMAKE_SOURCE_DIR}/host/app/commands/main.cpp ${CMAKE_SOURCE_DIR}/host/app/commands/panel_command.cpp)
target_link_libraries(velumbra PRIVATE velumbra_commands velumbra_panel)
# The module it loads by default lives beside it.
if(TARGET Qe_Velumbra)
  add_dependencies(velumbra Qe_Velumbra)
endif()
