# Fuzz targets (fuzz/targets): plain functions over arbitrary bytes, built
# in every configuration so that the regression replay (tests/fuzz) runs
# them in `make test`. With VELUMBRA_FUZZ=ON (clang only; `make fuzz` sets
# it up in its own build folder) each target also becomes a libFuzzer
# program fuzz_<target>, and the libraries it exercises are built with
# coverage instrumentation.
option(VELUMBRA_FUZZ "Build the libFuzzer programs (needs clang)" OFF)

file(GLOB VELUMBRA_FUZZ_TARGET_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/targets/*.cpp)
add_library(velumbra_fuzz_targets STATIC ${VELUMBRA_FUZZ_TARGET_SOURCES})
# The scene target checks the effect's camera search on built scenes: it
# links the effect's code, which the command itself does not.
target_link_libraries(velumbra_fuzz_targets PUBLIC velumbra_app velumbra_effect)

if(VELUMBRA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VELUMBRA_FUZZ needs clang (libFuzzer): configure with CC=clang CXX=clang++")
  endif()
  # Coverage feedback from the code under test, not only from the targets.
  # The effect's descriptor list is one call of several hundred arguments,
  # captured by a fold expression deeper than clang's default limit of 256.
  foreach(lib IN ITEMS hostsdk velumbra_effect_obj velumbra_base velumbra_image velumbra_scene velumbra_app velumbra_fuzz_targets)
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link -fbracket-depth=2048)
  endforeach()
  foreach(pair IN ITEMS "scene_file:FuzzSceneFile" "png_reader:FuzzPngReader" "exr_reader:FuzzExrReader"
                        "param_list:FuzzParamList" "chan_file:FuzzChanFile" "frame_pattern:FuzzFramePattern"
                        "catalogue:FuzzCatalogue")
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 name)
    list(GET pair 1 entry)
    add_executable(fuzz_${name} ${CMAKE_SOURCE_DIR}/fuzz/libfuzzer_entry.cpp)
    set_target_properties(fuzz_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    target_compile_definitions(fuzz_${name} PRIVATE VELUMBRA_FUZZ_ENTRY=${entry})
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(fuzz_${name} PRIVATE velumbra_fuzz_targets)
  endforeach()
endif()
