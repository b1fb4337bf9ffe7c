# Colour management: the real OpenColorIO through the command's colour library.
target_link_libraries(test_${name} PRIVATE velumbra_colour)
