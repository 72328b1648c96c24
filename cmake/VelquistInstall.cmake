# What a new installation gets besides the programs: the starter alert window, two short
# sounds, and the icon as PNGs for the desktop's icon theme. All of it is made by the build.

add_executable(make_resources ${CMAKE_SOURCE_DIR}/scripts/make_resources.cpp)
target_link_libraries(make_resources PRIVATE Qt6::Gui)

set(VELQUIST_STARTER_DIR ${CMAKE_BINARY_DIR}/starter)
set(VELQUIST_STARTER_SOUNDS ${VELQUIST_STARTER_DIR}/Sounds/Chime.wav
    ${VELQUIST_STARTER_DIR}/Sounds/Ping.wav)
add_custom_command(OUTPUT ${VELQUIST_STARTER_SOUNDS}
  COMMAND make_resources --sounds ${VELQUIST_STARTER_DIR}/Sounds
  DEPENDS make_resources VERBATIM)

file(GLOB VELQUIST_STARTER_WINDOWS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/starter/*.zka)
set(VELQUIST_STARTER_WINDOW_COPIES)
foreach(window ${VELQUIST_STARTER_WINDOWS})
  get_filename_component(window_name ${window} NAME)
  set(copy ${VELQUIST_STARTER_DIR}/SavedWindows/${window_name})
  add_custom_command(OUTPUT ${copy} COMMAND ${CMAKE_COMMAND} -E copy ${window} ${copy}
    DEPENDS ${window} VERBATIM)
  list(APPEND VELQUIST_STARTER_WINDOW_COPIES ${copy})
endforeach()

set(VELQUIST_ICON_STAMP ${CMAKE_BINARY_DIR}/hicolor/.stamp)
add_custom_command(OUTPUT ${VELQUIST_ICON_STAMP}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
          $<TARGET_FILE:make_resources> --icon-pngs ${CMAKE_SOURCE_DIR}/resources/velquist.ico
          ${CMAKE_BINARY_DIR}/hicolor
  COMMAND ${CMAKE_COMMAND} -E touch ${VELQUIST_ICON_STAMP}
  DEPENDS make_resources ${CMAKE_SOURCE_DIR}/resources/velquist.ico VERBATIM)

add_custom_target(velquist_starter ALL
  DEPENDS ${VELQUIST_STARTER_SOUNDS} ${VELQUIST_STARTER_WINDOW_COPIES} ${VELQUIST_ICON_STAMP})

if(VELQUIST_PACKAGE)
  include(${CMAKE_SOURCE_DIR}/cmake/VelquistPackage.cmake)
  return()
endif()

# cmake --install build --prefix FOLDER makes FOLDER an installation. Installing again keeps
# what the user owns there: Settings.ini, Local.ini, SavedWindows/ and Sounds/.
install(TARGETS velquist ${VELQUIST_TOOL_TARGETS} RUNTIME DESTINATION .)
install(TARGETS velquist_http LIBRARY DESTINATION .)
# The web page beside the client, when it was built (docs/alert-sources.md).
if(TARGET velquist_web)
  install(DIRECTORY ${VELQUIST_WEB_OUT}/ DESTINATION web OPTIONAL)
endif()
install(FILES ${CMAKE_BINARY_DIR}/splash.bmp ${CMAKE_BINARY_DIR}/velquist.ico DESTINATION .)
install(CODE "
  set(VELQUIST_STARTER_DIR \"${VELQUIST_STARTER_DIR}\")
  set(VELQUIST_SETTINGS_INI \"${CMAKE_SOURCE_DIR}/resources/Settings.ini\")
  set(VELQUIST_DEST \"\${CMAKE_INSTALL_PREFIX}\")
  include(\"${CMAKE_SOURCE_DIR}/cmake/VelquistStarter.cmake\")
")
