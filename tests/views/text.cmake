# Text rules of the popover pages. Each test passes its locale and time zone explicitly;
# views_text_dates also runs under a German system locale to check the defaults.
orvela_test(views_text_recent SOURCES ${CMAKE_CURRENT_LIST_DIR}/RecentActivityTextTest.cpp LIBS orvela_views)
orvela_test(views_text_dates SOURCES ${CMAKE_CURRENT_LIST_DIR}/DateChartTextTest.cpp LIBS orvela_views)
orvela_test(views_text_pages SOURCES ${CMAKE_CURRENT_LIST_DIR}/PageTextTest.cpp LIBS orvela_views)
set_property(TEST views_text_dates APPEND PROPERTY ENVIRONMENT
  "LC_ALL=de_DE.UTF-8" "LANG=de_DE.UTF-8" "TZ=Europe/Berlin")
