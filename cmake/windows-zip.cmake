# The Windows release zip, made beside the Debian package: target
# `windows_zip` cross-compiles both tools with MinGW-w64 in a build folder of
# its own (a second configure, since one build has one compiler) and packs
# cassmak-VERSION-windows-x86_64.zip into this build folder.
option(CASSMAK_WINDOWS_ZIP "Make the Windows release zip as part of the build (needs MinGW-w64 and groff)" OFF)
if(CASSMAK_WINDOWS_ZIP AND NOT WIN32)
  set(CASSMAK_WINDOWS_ZIP_FILE
    ${CMAKE_BINARY_DIR}/cassmak-${PROJECT_VERSION}-windows-x86_64.zip)
  # Under make, the command names $(MAKE), which marks it as a sub-make:
  # make then hands it its jobserver, so that the Windows build shares the
  # jobs of this one (its -j) instead of starting a number of its own.
  set(parent_make)
  if(CMAKE_GENERATOR MATCHES "Makefiles")
    set(parent_make "-DPARENT_MAKE=$(MAKE)")
  endif()
  add_custom_target(windows_zip ALL
    COMMAND ${CMAKE_COMMAND}
      ${parent_make}
      "-DGENERATOR=${CMAKE_GENERATOR}"
      -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
      -DBUILD_DIR=${CMAKE_BINARY_DIR}/windows-release
      -DVERSION=${PROJECT_VERSION}
      -DSOURCE_DATE_EPOCH=${CASSMAK_SOURCE_DATE_EPOCH}
      -DZIP_FILE=${CASSMAK_WINDOWS_ZIP_FILE}
      "-DMAN_PAGES=${CASSMAK_MAN_PAGES}"
      -P ${PROJECT_SOURCE_DIR}/cmake/windows-zip-build.cmake
    BYPRODUCTS ${CASSMAK_WINDOWS_ZIP_FILE}
    COMMENT "Cross-compiling for Windows and packing ${CASSMAK_WINDOWS_ZIP_FILE}"
    VERBATIM)
endif()
