# The web page (web/): bundled by esbuild into ${VELQUIST_WEB_OUT} when node and the page's npm
# packages (scripts/install-deps.sh runs npm ci) are there. It takes about a second.
find_program(VELQUIST_NODE node)
set(VELQUIST_WEB_OUT ${CMAKE_BINARY_DIR}/web)
if(VELQUIST_NODE AND EXISTS ${CMAKE_SOURCE_DIR}/web/node_modules/esbuild)
  file(GLOB VELQUIST_WEB_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/web/src/*.js)
  set(VELQUIST_WEB_STAMP ${VELQUIST_WEB_OUT}/velquist-web.js)
  add_custom_command(OUTPUT ${VELQUIST_WEB_STAMP}
    COMMAND ${VELQUIST_NODE} ${CMAKE_SOURCE_DIR}/web/build.mjs ${VELQUIST_WEB_OUT}
    DEPENDS ${VELQUIST_WEB_SOURCES} ${CMAKE_SOURCE_DIR}/web/build.mjs
            ${CMAKE_SOURCE_DIR}/web/index.html ${CMAKE_SOURCE_DIR}/web/style.css
            ${CMAKE_SOURCE_DIR}/web/package-lock.json
    COMMENT "Bundling the web page" VERBATIM)
  add_custom_target(velquist_web ALL DEPENDS ${VELQUIST_WEB_STAMP})
elseif(VELQUIST_PACKAGE)
  message(FATAL_ERROR "The package holds the web page: install node and npm, and run npm ci in web/ "
                      "(scripts/install-deps.sh does both)")
else()
  message(STATUS "node or web/node_modules missing: the web page is not built "
                 "(scripts/install-deps.sh installs both)")
endif()
