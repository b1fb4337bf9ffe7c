# The velumbra command: render scenes through the effects of the loaded
# modules, list modules, classes and parameters, dump star records, write
# scene files.
find_package(CLI11 REQUIRED)

# The executable carries the star-field generator for `velumbra stars`: the
# records are generated from the effect block's values with the same code the
# module uses, since the module exports only its class descriptors. Linking
# the effect's static library pulls in just the objects that generation
# needs; the module keeps its own copies local, so the two never meet.
add_executable(velumbra ${CMAKE_SOURCE_DIR}/host/app/main.cpp)
target_link_libraries(velumbra PRIVATE velumbra_app velumbra_effect CLI11::CLI11)
# The module it loads by default lives beside it.
if(TARGET Qe_Velumbra)
  add_dependencies(velumbra Qe_Velumbra)
endif()
