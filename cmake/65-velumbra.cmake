# The velumbra command: main() registers the sub-commands (one file each,
# host/app/*_command.cpp) and maps their errors to exit codes.
find_package(CLI11 REQUIRED)

# The executable carries the star-field generator for `velumbra stars`: the
# records are generated from the effect block's values with the same code the
# module uses, since the module exports only its class descriptors. Linking
# the effect's static library pulls in just the objects that generation
# needs; the module keeps its own copies local, so the two never meet.
file(GLOB VELUMBRA_COMMAND_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/host/app/*_command.cpp)
add_executable(velumbra ${CMAKE_SOURCE_DIR}/host/app/main.cpp ${CMAKE_SOURCE_DIR}/host/app/module_options.cpp
                        ${VELUMBRA_COMMAND_SOURCES})
target_link_libraries(velumbra PRIVATE velumbra_app velumbra_panel velumbra_effect CLI11::CLI11)
# The module it loads by default lives beside it.
if(TARGET Qe_Velumbra)
  add_dependencies(velumbra Qe_Velumbra)
endif()
