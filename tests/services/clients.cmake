# The stats and sync clients, the transfer beneath them and the service address.

# A scripted loopback HTTP server that any network test may link.
add_library(orvela_scripted_server STATIC ${CMAKE_CURRENT_LIST_DIR}/ScriptedServer.cpp)
target_include_directories(orvela_scripted_server PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(orvela_scripted_server PUBLIC Qt6::Core Qt6::Network PRIVATE PkgConfig::HTTPLIB)

orvela_test(services_base_url SOURCES ${CMAKE_CURRENT_LIST_DIR}/BaseURLTest.cpp LIBS orvela_services)
orvela_test(services_clients SOURCES ${CMAKE_CURRENT_LIST_DIR}/ClientsTest.cpp LIBS orvela_services orvela_scripted_server)
