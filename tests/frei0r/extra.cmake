# The frei0r plug-ins in the real hosts (label frei0r): Debian's ffmpeg,
# melt (MLT) and gst-launch-1.0, each pointed at build/frei0r-1 by
# FREI0R_PATH, their frames compared with velumbra render's; and the
# parameter mapping against the module's block.
add_dependencies(test_frei0r velumbra Qe_Velumbra qe_velumbra qe_velumbra_src qe_velumbra_frei0r_params)
target_sources(test_frei0r PRIVATE ${CMAKE_SOURCE_DIR}/integrations/frei0r/frei0r_params.cpp)
target_link_libraries(test_frei0r PRIVATE velumbra_host velumbra_scene)
target_compile_definitions(test_frei0r PRIVATE
  VELUMBRA_BUILD_DIR_FALLBACK="${CMAKE_BINARY_DIR}"
  VELUMBRA_SOURCE_DIR_FALLBACK="${CMAKE_SOURCE_DIR}")
# In a sanitized build the plug-ins carry the sanitizers, and the hosts
# (Debian's ffmpeg, melt, gst-launch-1.0) do not: they load such a plug-in
# only with the sanitizer runtimes preloaded, and their own leaks at exit
# are not ours to report.
if(VELUMBRA_SANITIZE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                  OUTPUT_VARIABLE asan_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libubsan.so
                  OUTPUT_VARIABLE ubsan_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
  target_compile_definitions(test_frei0r PRIVATE VELUMBRA_HOST_PRELOAD="${asan_runtime}:${ubsan_runtime}")
endif()
set(test_properties LABELS frei0r TIMEOUT 120)
