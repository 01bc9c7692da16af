# Run by CPack after it made the Debian packages. For a package with a shared
# library CPack writes a postinst and a postrm that call ldconfig; the
# package's ldconfig trigger (cmake/triggers) does that now, and Debian asks
# for the trigger alone. Such a package is unpacked, the two scripts taken
# out and packed again as CPack packs: gzip, files owned by root, every date
# SOURCE_DATE_EPOCH (as the unpacked files keep it), so that two builds still
# give the same bytes.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
find_program(CASSMAK_DPKG_DEB dpkg-deb REQUIRED)
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  set(tree "${deb}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND "${CASSMAK_DPKG_DEB}" -R "${deb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  if(EXISTS "${tree}/DEBIAN/triggers")
    foreach(script postinst postrm)
      file(READ "${tree}/DEBIAN/${script}" text)
      # Only CPack's own script, which calls ldconfig and nothing else.
      string(REGEX REPLACE "#[^\n]*\n|set -e\n|if \\[ \"\\$1\" = \"[a-z]+\" \\]; then\n|\tldconfig\n|fi\n|\n" "" rest "${text}")
      if(NOT rest STREQUAL "")
        message(FATAL_ERROR "${deb}: ${script} does more than call ldconfig:\n${text}")
      endif()
      file(REMOVE "${tree}/DEBIAN/${script}")
    endforeach()
    file(REMOVE "${deb}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E env "SOURCE_DATE_EPOCH=$ENV{SOURCE_DATE_EPOCH}"
      "${CASSMAK_DPKG_DEB}" --root-owner-group -Zgzip --build "${tree}" "${deb}"
      OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE_RECURSE "${tree}")
endforeach()
