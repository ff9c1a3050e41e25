# The text rules of the popover pages. Each case passes its locale and time zone; the run under
# a German system locale also checks the defaults.
orvela_test(views_text SOURCES ${CMAKE_CURRENT_LIST_DIR}/ViewTextTest.cpp LIBS orvela_views)
set_property(TEST views_text APPEND PROPERTY ENVIRONMENT "LC_ALL=de_DE.UTF-8" "LANG=de_DE.UTF-8" "TZ=Europe/Berlin")
