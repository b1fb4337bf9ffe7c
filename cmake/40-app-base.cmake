# The velumbra command's smallest pieces (host/app/base), shared by its
# libraries: the error types (header only), atomic files, Ctrl-C, quoting for
# messages, file identity.
file(GLOB VELUMBRA_BASE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/host/app/base/*.cpp)
add_library(velumbra_base STATIC ${VELUMBRA_BASE_SOURCES})
target_link_libraries(velumbra_base PUBLIC hostsdk)
