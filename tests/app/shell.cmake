# The tray shell. The controller's tests load the real root view and pages, in an English
# locale so that counts are grouped as "1,234".
orvela_test(app_placement SOURCES ${CMAKE_CURRENT_LIST_DIR}/PanelPlacementTest.cpp LIBS orvela_shell)
orvela_test(app_single_instance SOURCES ${CMAKE_CURRENT_LIST_DIR}/SingleInstanceTest.cpp LIBS orvela_shell)
orvela_test(app_menu_bar SOURCES ${CMAKE_CURRENT_LIST_DIR}/MenuBarControllerTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/ShellFakes.h LIBS orvela_shell)
set_property(TEST app_menu_bar APPEND PROPERTY ENVIRONMENT "LC_ALL=en_US.UTF-8" "LANG=en_US.UTF-8")
orvela_test(app_quit_signals SOURCES ${CMAKE_CURRENT_LIST_DIR}/QuitSignalsTest.cpp LIBS orvela_shell)
