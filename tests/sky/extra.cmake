# The sky's oracles, for the tests only: ERFA (Debian liberfa-dev, the IAU's
# SOFA routines as astropy uses them) checks the astrometry function by
# function; astropy (python3-astropy, run with /usr/bin/python3) checks it
# end to end. The effect module itself links neither.
find_library(VELUMBRA_ERFA_LIBRARY erfa REQUIRED)
find_path(VELUMBRA_ERFA_INCLUDE erfa.h REQUIRED)
target_include_directories(test_${name} PRIVATE ${VELUMBRA_ERFA_INCLUDE})
target_link_libraries(test_${name} PRIVATE ${VELUMBRA_ERFA_LIBRARY})
