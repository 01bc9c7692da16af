# Run by CPack on its staged copy of the installed tree, before it makes the
# packages: one folder per component, each becoming the package that
# CPACK_CASSMAK_PACKAGES names for it. A Debian package carries its man pages
# and its large documents compressed, and in /usr/share/doc/PACKAGE its
# copyright and its changelog as changelog.gz in Debian's form (made from
# CHANGELOG.md, which it replaces). gzip -n keeps the file name and time out
# of them, so that the bytes depend on the contents alone.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
include(${CMAKE_CURRENT_LIST_DIR}/debian_changelog.cmake)
find_program(CASSMAK_GZIP gzip REQUIRED)

function(compress_to from to)
  execute_process(COMMAND "${CASSMAK_GZIP}" -n -9 -c "${from}" OUTPUT_FILE "${to}"
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${from}")
  endif()
endfunction()

# The tools' documents are the sources of every package's.
set(tools_root "${CPACK_TEMPORARY_DIRECTORY}/tools${CPACK_PACKAGING_INSTALL_PREFIX}")
set(tools_doc "${tools_root}/share/doc/${CPACK_PACKAGE_NAME}")
if(NOT EXISTS "${tools_doc}/CHANGELOG.md" OR NOT EXISTS "${tools_doc}/copyright")
  message(FATAL_ERROR "no CHANGELOG.md and copyright under ${tools_doc}")
endif()
set(changelog "${CPACK_TEMPORARY_DIRECTORY}.changelog")
file(COPY_FILE "${tools_doc}/copyright" "${CPACK_TEMPORARY_DIRECTORY}.copyright")

foreach(pair IN LISTS CPACK_CASSMAK_PACKAGES)
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 component)
  list(GET pair 1 package)
  set(root "${CPACK_TEMPORARY_DIRECTORY}/${component}${CPACK_PACKAGING_INSTALL_PREFIX}")
  if(NOT IS_DIRECTORY "${root}")
    continue()
  endif()
  file(GLOB pages "${root}/share/man/man[1-9]/*.[1-9]")
  if(component STREQUAL "tools" AND NOT pages)
    message(FATAL_ERROR "no man pages under ${root}/share/man")
  endif()
  foreach(page IN LISTS pages)
    compress_to("${page}" "${page}.gz")
    file(REMOVE "${page}")
  endforeach()
  set(doc "${root}/share/doc/${package}")
  file(MAKE_DIRECTORY "${doc}")
  file(COPY_FILE "${CPACK_TEMPORARY_DIRECTORY}.copyright" "${doc}/copyright")
  debian_changelog("${tools_doc}/CHANGELOG.md" "${changelog}"
    "${package}" "${CPACK_DEBIAN_PACKAGE_MAINTAINER}")
  compress_to("${changelog}" "${doc}/changelog.gz")
  # A README of this size goes compressed, as Debian's policy asks of
  # documents over a few kilobytes.
  if(EXISTS "${doc}/README.md")
    compress_to("${doc}/README.md" "${doc}/README.md.gz")
    file(REMOVE "${doc}/README.md")
  endif()
endforeach()
file(REMOVE "${tools_doc}/CHANGELOG.md" "${changelog}" "${CPACK_TEMPORARY_DIRECTORY}.copyright")
