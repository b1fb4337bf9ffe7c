# The velumbra command's smallest pieces, shared by its libraries: the error
# types (header only), Ctrl-C, quoting for messages, file identity.
add_library(velumbra_base STATIC
  ${CMAKE_SOURCE_DIR}/host/app/base/interrupt.cpp
  ${CMAKE_SOURCE_DIR}/host/app/base/quoting.cpp
  ${CMAKE_SOURCE_DIR}/host/app/base/paths.cpp
  ${CMAKE_SOURCE_DIR}/host/app/base/atomic_file.cpp)
target_link_libraries(velumbra_base PUBLIC hostsdk)
