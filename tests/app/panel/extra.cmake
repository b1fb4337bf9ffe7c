# The panel tests drive the server in-process with cpp-httplib's client.
target_link_libraries(test_${name} PRIVATE velumbra_panel PkgConfig::CPPHTTPLIB)
