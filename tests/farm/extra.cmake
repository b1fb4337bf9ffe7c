# The farm's decisions (chunks, batch scripts, the memory estimate, resume
# checks, reports) are tested in test_farm. The one-node Slurm cluster test
# is a program of its own, tests/farm/cluster/, run as the single CTest test
# farm.cluster, so that its cluster (munged, slurmctld, slurmd) starts once
# for all its cases.
target_link_libraries(test_farm PRIVATE velumbra_commands PNG::PNG)
add_dependencies(test_farm velumbra Qe_Velumbra)
target_compile_definitions(test_farm PRIVATE
  VELUMBRA_BUILD_DIR_FALLBACK="${CMAKE_BINARY_DIR}"
  VELUMBRA_SOURCE_DIR_FALLBACK="${CMAKE_SOURCE_DIR}")

add_executable(test_farm_cluster ${CMAKE_CURRENT_LIST_DIR}/cluster/cluster_test.cpp
                                 ${CMAKE_CURRENT_LIST_DIR}/cluster/one_node_cluster.cpp)
target_include_directories(test_farm_cluster PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(test_farm_cluster PRIVATE velumbra_app GTest::gtest)
add_dependencies(test_farm_cluster velumbra Qe_Velumbra)
target_compile_definitions(test_farm_cluster PRIVATE
  VELUMBRA_BUILD_DIR_FALLBACK="${CMAKE_BINARY_DIR}"
  VELUMBRA_SOURCE_DIR_FALLBACK="${CMAKE_SOURCE_DIR}")
add_test(NAME farm.cluster COMMAND test_farm_cluster)
# Exit 77: skipped (not root, or Slurm and munge not installed), with the
# reason in the output.
set_tests_properties(farm.cluster PROPERTIES
  LABELS farm
  SKIP_RETURN_CODE 77
  TIMEOUT 600
  PROCESSORS 2
  ENVIRONMENT "VELUMBRA_BUILD_DIR=${CMAKE_BINARY_DIR};VELUMBRA_SOURCE_DIR=${CMAKE_SOURCE_DIR}")

# test_farm's own tests take the label too, once gtest_discover_tests has
# listed them (its list, test_farm_TESTS, is set by the file it includes
# into CTest's; this file is included after it).
file(WRITE ${CMAKE_BINARY_DIR}/farm_test_labels.cmake
  "foreach(test IN LISTS test_farm_TESTS)\n  set_tests_properties(\"\${test}\" PROPERTIES LABELS farm)\nendforeach()\n")
cmake_language(DEFER CALL set_property DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES
               ${CMAKE_BINARY_DIR}/farm_test_labels.cmake)
