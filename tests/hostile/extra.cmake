# Hostile inputs at the library level: scene descriptions, hierarchies and
# image files. The tests make damaged PNG and EXR files from good ones.
target_link_libraries(test_hostile PRIVATE velumbra_app PNG::PNG)
