# The panel's colour pairs, light and dark, as contrast ratios.
orvela_test(views_theme SOURCES ${CMAKE_CURRENT_LIST_DIR}/ThemeTest.cpp ${CMAKE_CURRENT_LIST_DIR}/Contrast.h
            ${CMAKE_SOURCE_DIR}/tests/store/StoreFakes.h LIBS orvela_views)
target_include_directories(views_theme PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}/tests/store)
