# Tests against Debian's Blender (label blender): a small shot rendered by
# Cycles, its camera exported by Blender's own .chan exporter, and the
# command run on the frames. The shot is made once per build folder
# (<build>/blender/shot) and remade when its script or the stars change.
add_dependencies(test_blender velumbra Qe_Velumbra)
target_link_libraries(test_blender PRIVATE velumbra_app OpenEXR::OpenEXR)
target_compile_definitions(test_blender PRIVATE
  VELUMBRA_BUILD_DIR_FALLBACK="${CMAKE_BINARY_DIR}"
  VELUMBRA_SOURCE_DIR_FALLBACK="${CMAKE_SOURCE_DIR}")
# Blender takes both cores while it renders.
set(test_properties LABELS blender TIMEOUT 600 PROCESSORS 2 RESOURCE_LOCK blender)
