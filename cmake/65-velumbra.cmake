# The velumbra command: main() registers the sub-commands (one file each,
# host/app/commands/*_command.cpp) and maps their errors to exit codes.
find_package(CLI11 REQUIRED)

# The sub-commands but the panel's, as a library that tests can drive
# in-process (the farm's checks at submission); the panel's registration is
# the executable's own, so that the web server's libraries stay out of
# every other test binary.
file(GLOB VELUMBRA_COMMAND_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/host/app/commands/*_command.cpp)
list(FILTER VELUMBRA_COMMAND_SOURCES EXCLUDE REGEX "/panel_command\\.cpp$")
add_library(velumbra_commands STATIC ${VELUMBRA_COMMAND_SOURCES} ${CMAKE_SOURCE_DIR}/host/app/commands/module_options.cpp)
target_link_libraries(velumbra_commands PUBLIC velumbra_app velumbra_effect CLI11::CLI11)

# The executable carries the star-field generator for `velumbra stars`: the
# records are generated from the effect block's values with the same code the
# module uses, since the module exports only its class descriptors. Linking
# the effect's static library pulls in just the objects that generation
# needs; the module keeps its own copies local, so the two never meet.
add_executable(velumbra ${CMAKE_SOURCE_DIR}/host/app/commands/main.cpp ${CMAKE_SOURCE_DIR}/host/app/commands/panel_command.cpp)
target_link_libraries(velumbra PRIVATE velumbra_commands velumbra_panel)
# The module it loads by default lives beside it.
if(TARGET Qe_Velumbra)
  add_dependencies(velumbra Qe_Velumbra)
endif()
