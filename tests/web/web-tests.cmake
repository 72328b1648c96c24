# The web page's tests. The unit tests need node only; the browser test needs the built page
# (target velquist_web), chromium, mosquitto, the desk's payload printer and a running desk.
if(NOT VELQUIST_NODE)
  message(STATUS "node not found: the web page's tests are left out")
  return()
endif()
add_test(NAME web/logic COMMAND ${VELQUIST_NODE} --test ${CMAKE_CURRENT_SOURCE_DIR}/web/logic.test.mjs)
set_tests_properties(web/logic PROPERTIES TIMEOUT 120)

# What the desk publishes, from the desk's own code: the broker's message functions and the
# few sources they use, so that the test does not wait for the whole library.
add_executable(velquist-desk-payload helpers/desk_payload.cpp
  ${CMAKE_SOURCE_DIR}/src/broker/zkBrokerMessages.cpp ${CMAKE_SOURCE_DIR}/src/inbox/zkInboxAlert.cpp
  ${CMAKE_SOURCE_DIR}/src/platform/zkOutsideText.cpp)
target_include_directories(velquist-desk-payload PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(velquist-desk-payload PRIVATE Qt6::Core Qt6::Gui)

# The running desk the browser test sends to and gets alerts from (tests/helpers/web_desk.cpp),
# set up by the whole-process harness; it needs the client and velquist-link built.
add_executable(velquist-web-desk helpers/web_desk.cpp)
target_link_libraries(velquist-web-desk PRIVATE velquist_testsupport)
target_compile_options(velquist-web-desk PRIVATE ${VELQUIST_TEST_CODE_OPTIONS})
add_dependencies(velquist-web-desk velquist ${VELQUIST_TOOL_TARGETS})

if(TARGET velquist_web)
  add_test(NAME web/browser
           COMMAND ${VELQUIST_NODE} --test --test-reporter=spec
                   ${CMAKE_CURRENT_SOURCE_DIR}/web/browser.test.mjs)
  set_tests_properties(web/browser PROPERTIES TIMEOUT 400 LABELS e2e
    ENVIRONMENT "VELQUIST_WEB_DIR=${VELQUIST_WEB_OUT};VELQUIST_WEB_MODULES=${CMAKE_SOURCE_DIR}/web/node_modules;VELQUIST_DESK_PAYLOAD=$<TARGET_FILE:velquist-desk-payload>;VELQUIST_WEB_DESK=$<TARGET_FILE:velquist-web-desk>;VELQUIST_WEB_SHOTS=${CMAKE_BINARY_DIR}/web-screenshots")
endif()
