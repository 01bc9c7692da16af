# Read by CPack for each package it makes. CPack stamps the archive members
# and every file with SOURCE_DATE_EPOCH when it is set: unless the caller
# gave one, it is the date the build was configured with (the last commit's).
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_CASSMAK_SOURCE_DATE_EPOCH}")
endif()
