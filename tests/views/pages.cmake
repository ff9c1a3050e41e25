# The pages loaded from their real QML against a real AppStore, and the favicon loader against
# HTTPS sites on loopback. The page tests leave a picture of every state they check, light and
# dark, in <build>/screenshots.
orvela_test(views_favicon SOURCES ${CMAKE_CURRENT_LIST_DIR}/FaviconLoaderTest.cpp LIBS orvela_views PkgConfig::HTTPLIB)
target_compile_definitions(views_favicon PRIVATE ORVELA_TEST_TLS_DIR="${CMAKE_CURRENT_LIST_DIR}/tls")

foreach(page Dashboard Settings Editor)
  string(TOLOWER ${page} name)
  orvela_test(views_pages_${name}
              SOURCES ${CMAKE_CURRENT_LIST_DIR}/${page}PageTest.cpp ${CMAKE_CURRENT_LIST_DIR}/PageHarness.h
                      ${CMAKE_SOURCE_DIR}/tests/store/StoreFakes.h
              LIBS orvela_views orvela_icons)
  target_include_directories(views_pages_${name} PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}/tests/store)
  target_compile_definitions(views_pages_${name} PRIVATE ORVELA_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screenshots")
  set_property(TEST views_pages_${name} APPEND PROPERTY ENVIRONMENT "LANG=en_US.UTF-8" "LC_ALL=en_US.UTF-8")
endforeach()
# The account block connects to a scripted service on loopback.
target_link_libraries(views_pages_settings PRIVATE orvela_scripted_server)
