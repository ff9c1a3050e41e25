# The figure drawn into the tray icon at the sizes trays ask for; the renders go to
# <build>/screenshots.
orvela_test(app_tray_icon SOURCES ${CMAKE_CURRENT_LIST_DIR}/TrayIconTest.cpp LIBS orvela_shell)
target_compile_definitions(app_tray_icon PRIVATE ORVELA_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screenshots")
