# Run by CPack on its staged copy of the installed tree, before it makes a
# package. A Debian package carries its man pages compressed, and its
# changelog as changelog.gz in Debian's form (made from CHANGELOG.md, which it
# replaces). gzip -n keeps the file name and time out of them, so that the
# bytes depend on the contents alone.
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

set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
file(GLOB pages "${root}/share/man/man[1-9]/*.[1-9]")
if(NOT pages)
  message(FATAL_ERROR "no man pages under ${root}/share/man")
endif()
foreach(page IN LISTS pages)
  compress_to("${page}" "${page}.gz")
  file(REMOVE "${page}")
endforeach()

set(doc "${root}/share/doc/${CPACK_PACKAGE_NAME}")
debian_changelog("${doc}/CHANGELOG.md" "${CPACK_TEMPORARY_DIRECTORY}.changelog"
  "${CPACK_PACKAGE_NAME}" "${CPACK_DEBIAN_PACKAGE_MAINTAINER}")
compress_to("${CPACK_TEMPORARY_DIRECTORY}.changelog" "${doc}/changelog.gz")
file(REMOVE "${CPACK_TEMPORARY_DIRECTORY}.changelog" "${doc}/CHANGELOG.md")
