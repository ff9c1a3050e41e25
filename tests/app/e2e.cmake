# The real binary on a virtual X display with a real tray host; skipped when the tools are not
# installed. Screenshots go to <build>/screenshots.
add_test(NAME app_e2e_tray
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/e2e-tray $<TARGET_FILE:orvela> ${PROJECT_BINARY_DIR}/screenshots)
set_tests_properties(app_e2e_tray PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
