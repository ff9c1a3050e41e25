# The tracking script: minified with a pinned terser from a build-local node_modules, gzipped,
# and compiled into orvela-server as TrackingScriptData.cpp. The build prints its sizes.
find_program(ORVELA_NODE node)
find_program(ORVELA_NPM npm)
if(NOT ORVELA_NODE OR NOT ORVELA_NPM)
  message(FATAL_ERROR "orvela-server minifies its tracking script with Node.js and npm, which are not "
                      "installed: apt-get install nodejs npm (scripts/run and scripts/test do it as root)")
endif()

set(ORVELA_SCRIPT_SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/script)
set(ORVELA_SCRIPT_TOOLS ${CMAKE_CURRENT_BINARY_DIR}/script-tools)
set(ORVELA_SCRIPT_OUT ${CMAKE_CURRENT_BINARY_DIR}/script)

add_custom_command(
  OUTPUT ${ORVELA_SCRIPT_TOOLS}/node_modules/.package-lock.json
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ORVELA_SCRIPT_TOOLS}
  COMMAND ${CMAKE_COMMAND} -E copy ${ORVELA_SCRIPT_SOURCE}/package.json ${ORVELA_SCRIPT_SOURCE}/package-lock.json
          ${ORVELA_SCRIPT_TOOLS}/
  COMMAND ${ORVELA_NPM} ci --prefix ${ORVELA_SCRIPT_TOOLS} --no-audit --no-fund --ignore-scripts --loglevel=error
  DEPENDS ${ORVELA_SCRIPT_SOURCE}/package.json ${ORVELA_SCRIPT_SOURCE}/package-lock.json
  COMMENT "Installing the pinned script minifier (npm ci)"
  VERBATIM)

add_custom_command(
  OUTPUT ${ORVELA_SCRIPT_OUT}/TrackingScriptData.cpp ${ORVELA_SCRIPT_OUT}/script.min.js
         ${ORVELA_SCRIPT_OUT}/script.min.js.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${ORVELA_SCRIPT_SOURCE}/build.mjs ${ORVELA_SCRIPT_TOOLS}/build.mjs
  COMMAND ${ORVELA_NODE} ${ORVELA_SCRIPT_TOOLS}/build.mjs ${ORVELA_SCRIPT_SOURCE}/orvela.js ${ORVELA_SCRIPT_OUT}
  DEPENDS ${ORVELA_SCRIPT_SOURCE}/orvela.js ${ORVELA_SCRIPT_SOURCE}/build.mjs
          ${ORVELA_SCRIPT_TOOLS}/node_modules/.package-lock.json
  COMMENT "Minifying the tracking script"
  VERBATIM)

target_sources(orvela_server_core PRIVATE http/TrackingScript.h ${ORVELA_SCRIPT_OUT}/TrackingScriptData.cpp)
