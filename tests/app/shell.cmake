# The tray shell. The controller's tests load the real root view and pages over the store
# tests' fakes, in an English locale so that counts are grouped as "1,234".
orvela_test(app_placement SOURCES ${CMAKE_CURRENT_LIST_DIR}/PanelPlacementTest.cpp LIBS orvela_shell)
orvela_test(app_single_instance SOURCES ${CMAKE_CURRENT_LIST_DIR}/SingleInstanceTest.cpp LIBS orvela_shell)
orvela_test(app_menu_bar SOURCES ${CMAKE_CURRENT_LIST_DIR}/MenuBarControllerTest.cpp
            ${CMAKE_SOURCE_DIR}/tests/store/StoreFakes.h LIBS orvela_shell)
target_include_directories(app_menu_bar PRIVATE ${CMAKE_SOURCE_DIR}/tests/store)
set_property(TEST app_menu_bar APPEND PROPERTY ENVIRONMENT "LC_ALL=en_US.UTF-8" "LANG=en_US.UTF-8")
