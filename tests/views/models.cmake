# The lists the pages show, as item models checked by QAbstractItemModelTester.
orvela_test(views_list_models SOURCES ${CMAKE_CURRENT_LIST_DIR}/ListModelsTest.cpp ${CMAKE_SOURCE_DIR}/tests/store/StoreFakes.h
            LIBS orvela_views)
target_include_directories(views_list_models PRIVATE ${CMAKE_SOURCE_DIR}/tests/store)
set_property(TEST views_list_models APPEND PROPERTY ENVIRONMENT "LANG=en_US.UTF-8" "LC_ALL=en_US.UTF-8")

# The module in an engine: each engine's singletons over its own store, the pages at their address.
orvela_test(views_engine SOURCES ${CMAKE_CURRENT_LIST_DIR}/ViewEngineTest.cpp ${CMAKE_SOURCE_DIR}/tests/store/StoreFakes.h
            LIBS orvela_views orvela_icons)
target_include_directories(views_engine PRIVATE ${CMAKE_SOURCE_DIR}/tests/store)
