# The module tests load the built Qe_Velumbra.dlv and a few broken modules
# made from fixtures/fake_module.cpp, each breaking one rule of the loader.
target_link_libraries(test_${name} PRIVATE velumbra_app)
add_dependencies(test_${name} Qe_Velumbra)

set(VELUMBRA_FAKE_MODULES_DIR ${CMAKE_BINARY_DIR}/test_modules)
set(fake_variants
  "good|"
  "wrong_version|FAKE_VERSION=0x1F401500"
  "no_classdesc|FAKE_NO_CLASSDESC"
  "refusing|FAKE_REFUSE"
  "bad_block|FAKE_BAD_BLOCK"
  "null_class|FAKE_NULL_CLASS")
foreach(variant IN LISTS fake_variants)
  string(REPLACE "|" ";" parts "${variant}")
  list(GET parts 0 fake_name)
  list(LENGTH parts n)
  add_library(fake_${fake_name} MODULE ${CMAKE_CURRENT_LIST_DIR}/fixtures/fake_module.cpp)
  target_link_libraries(fake_${fake_name} PRIVATE hostsdk)
  # Only the marked exports are visible, as in the real module: nothing
  # then keeps the module mapped once the loader closes it.
  target_compile_options(fake_${fake_name} PRIVATE -fvisibility=hidden -fvisibility-inlines-hidden)
  if(n GREATER 1)
    list(GET parts 1 fake_def)
    if(NOT fake_def STREQUAL "")
      target_compile_definitions(fake_${fake_name} PRIVATE ${fake_def})
    endif()
  endif()
  set_target_properties(fake_${fake_name} PROPERTIES
    PREFIX "" SUFFIX ".dlv" OUTPUT_NAME ${fake_name}
    LIBRARY_OUTPUT_DIRECTORY ${VELUMBRA_FAKE_MODULES_DIR})
  add_dependencies(test_${name} fake_${fake_name})
endforeach()
target_compile_definitions(test_${name} PRIVATE
  VELUMBRA_FAKE_MODULES_DIR="${VELUMBRA_FAKE_MODULES_DIR}")

# A malformed module definition stops the build with its file and line.
add_test(NAME ModuleExports.MalformedDefinitionNamesFileAndLine
  COMMAND ${CMAKE_COMMAND}
          -DDEF_FILE=${CMAKE_CURRENT_LIST_DIR}/fixtures/bad_exports.def
          -DOUTPUT=${CMAKE_BINARY_DIR}/generated/bad_exports.map
          -DLIBRARY_NAME=Qe_Velumbra.dlv
          -P ${CMAKE_SOURCE_DIR}/cmake/scripts/def_to_version_script.cmake)
set_tests_properties(ModuleExports.MalformedDefinitionNamesFileAndLine PROPERTIES
  PASS_REGULAR_EXPRESSION "bad_exports\\.def:6: error: LibClassDesc: ordinal 2 is used twice")
