# The keychain store against the real Secret Service (run inside scripts/lib/with-keyring) and,
# through KeychainProbe child processes, against a missing bus, a missing provider and a keyring
# that never answers.
add_executable(KeychainProbe ${CMAKE_CURRENT_LIST_DIR}/KeychainProbe.cpp)
target_link_libraries(KeychainProbe PRIVATE orvela_services PkgConfig::LIBSECRET)

orvela_test(KeychainStoreTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/KeychainStoreTest.cpp
  LIBS orvela_services PkgConfig::LIBSECRET)
target_compile_definitions(KeychainStoreTest PRIVATE KEYCHAIN_PROBE="$<TARGET_FILE:KeychainProbe>"
                           BARE_BUS_CONFIG="${CMAKE_CURRENT_LIST_DIR}/bare-bus.conf")
add_dependencies(KeychainStoreTest KeychainProbe)
