# The module's resources: resources/Qe_Velumbra.rc is compiled by the host
# tool rcc into C++ tables (exported as HostModuleResources) that are linked
# into the effect.

# The resource compiler, a program of the build machine.
add_executable(velumbra_rcc
  ${CMAKE_SOURCE_DIR}/host/tools/rcc.cpp
  ${CMAKE_SOURCE_DIR}/host/tools/rc_lexer.cpp
  ${CMAKE_SOURCE_DIR}/host/tools/rc_parser.cpp
  ${CMAKE_SOURCE_DIR}/host/tools/rc_emit.cpp)
target_include_directories(velumbra_rcc PRIVATE ${CMAKE_SOURCE_DIR})

# The program that draws resources/about.bmp; the committed bitmap is its
# output (tests compare the two). Regenerate with
#   build/velumbra_about_bitmap resources/about.bmp
add_executable(velumbra_about_bitmap ${CMAKE_SOURCE_DIR}/resources/about_bitmap.cpp)

set(VELUMBRA_RC ${CMAKE_SOURCE_DIR}/resources/Qe_Velumbra.rc)
set(VELUMBRA_RC_CPP ${CMAKE_BINARY_DIR}/generated/Qe_Velumbra_rc.cpp)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/generated)
add_custom_command(
  OUTPUT ${VELUMBRA_RC_CPP}
  COMMAND velumbra_rcc -I ${CMAKE_BINARY_DIR}/generated -o ${VELUMBRA_RC_CPP} ${VELUMBRA_RC}
  DEPENDS velumbra_rcc
          ${VELUMBRA_RC}
          ${CMAKE_SOURCE_DIR}/resources/resource.h
          ${CMAKE_SOURCE_DIR}/resources/about.bmp
          ${CMAKE_BINARY_DIR}/generated/velumbra_version.h
  COMMENT "Compiling resources/Qe_Velumbra.rc"
  VERBATIM)
target_sources(velumbra_effect_obj PRIVATE ${VELUMBRA_RC_CPP})
