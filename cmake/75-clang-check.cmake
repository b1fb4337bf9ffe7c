# The effect's sources compiled by clang as one test step, whatever compiler
# builds the rest: the fuzz targets are clang's (`make fuzz`), and vector
# code that only GCC accepts would otherwise break them unseen. clang comes
# with the test packages (packages-test.txt); without it the step fails and
# says so.
if(VELUMBRA_TESTS)
  enable_testing()
  find_program(VELUMBRA_CLANGXX NAMES clang++ clang++-14)
  if(VELUMBRA_CLANGXX)
    add_test(NAME EffectSources.CompileWithClang
             COMMAND ${CMAKE_SOURCE_DIR}/cmake/scripts/compile_with_clang.sh ${VELUMBRA_CLANGXX}
                     ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated ${EFFECT_SOURCES})
  else()
    add_test(NAME EffectSources.CompileWithClang
             COMMAND ${CMAKE_COMMAND} -E echo "clang++ not found: install the packages of packages-test.txt")
    set_tests_properties(EffectSources.CompileWithClang PROPERTIES WILL_FAIL TRUE)
  endif()
  set_tests_properties(EffectSources.CompileWithClang PROPERTIES LABELS clang TIMEOUT 600)
endif()
