# Puts the starter files into a new installation; run by `cmake --install` and by scripts/run.sh
# (cmake -DVELQUIST_STARTER_DIR=... -DVELQUIST_SETTINGS_INI=... -DVELQUIST_DEST=... -P this).
# Never overwrites: a folder that has SavedWindows/ has been used and gets no starter files.

if(NOT EXISTS "${VELQUIST_DEST}/Settings.ini")
  file(INSTALL "${VELQUIST_SETTINGS_INI}" DESTINATION "${VELQUIST_DEST}")
endif()

if(NOT IS_DIRECTORY "${VELQUIST_DEST}/SavedWindows")
  foreach(sub SavedWindows Sounds)
    file(GLOB starter_files "${VELQUIST_STARTER_DIR}/${sub}/*")
    foreach(file ${starter_files})
      get_filename_component(name "${file}" NAME)
      if(NOT EXISTS "${VELQUIST_DEST}/${sub}/${name}")
        file(INSTALL "${file}" DESTINATION "${VELQUIST_DEST}/${sub}")
      endif()
    endforeach()
  endforeach()
  # Even without starter windows, the folder marks the installation as set up.
  file(MAKE_DIRECTORY "${VELQUIST_DEST}/SavedWindows")
endif()
