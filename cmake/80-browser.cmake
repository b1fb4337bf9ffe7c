# The velumbra panel in a real browser: Debian's headless Chromium driven by
# playwright-core from npm (installed by tests/browser/run.sh into
# <build>/browser/node_modules with `npm ci`, only when missing; it never
# downloads a browser).
#
#   ctest -L browser          the end-to-end test of the panel
#   cmake --build <build> --target screenshot
#                             docs/images/panel.png for the README
#
# The test exits 77 (skipped, with the reason) only when Chromium, Node.js,
# npm or playwright-core cannot be had; `make deps` installs the Debian
# packages.
set(BROWSER_RUN ${CMAKE_SOURCE_DIR}/tests/browser/run.sh)

if(VELUMBRA_TESTS)
  add_test(NAME browser.panel
           COMMAND bash ${BROWSER_RUN} test ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} $<TARGET_FILE:velumbra>)
  # Chromium takes both cores while it renders; a sanitizer build of the
  # server and a first `npm ci` are slow.
  set_tests_properties(browser.panel PROPERTIES
    LABELS browser
    SKIP_RETURN_CODE 77
    TIMEOUT 900
    PROCESSORS 2)
endif()

add_custom_target(screenshot
  COMMAND bash ${BROWSER_RUN} screenshot ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} $<TARGET_FILE:velumbra>
          ${CMAKE_SOURCE_DIR}/docs/images/panel.png
  DEPENDS velumbra
  COMMENT "Taking a screenshot of the velumbra panel (docs/images/panel.png)"
  USES_TERMINAL
  VERBATIM)
