# Run with cmake -P by the windows_zip target: builds the Windows release
# of both tools in BUILD_DIR and packs them with the documents into ZIP_FILE,
# the man pages rendered as UTF-8 text (`groff -man -T utf8`).
foreach(var SOURCE_DIR BUILD_DIR VERSION ZIP_FILE MAN_PAGES)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "windows-zip-build.cmake needs -D${var}=...")
  endif()
endforeach()

find_program(MINGW_CXX x86_64-w64-mingw32-g++-posix)
if(NOT MINGW_CXX)
  message(FATAL_ERROR "The Windows zip needs the MinGW-w64 cross-compiler "
    "x86_64-w64-mingw32-g++-posix (Debian and Ubuntu: apt-get install g++-mingw-w64-x86-64)")
endif()
find_program(GROFF groff)
if(NOT GROFF)
  message(FATAL_ERROR "The Windows zip renders the man pages with groff "
    "(Debian and Ubuntu: apt-get install groff-base)")
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BUILD_DIR}
    -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCASSMAK_WINDOWS_ZIP=OFF
    # Stripped by the linker, as the Debian package's executables are
    # stripped (strip itself would write the time into the executable).
    -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s
  COMMAND_ERROR_IS_FATAL ANY)
execute_process(
  COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --parallel 2 --target cassmak casstool
  COMMAND_ERROR_IS_FATAL ANY)

set(name cassmak-${VERSION}-windows-x86_64)
set(stage ${BUILD_DIR}/zip/${name})
file(REMOVE_RECURSE ${BUILD_DIR}/zip)
file(MAKE_DIRECTORY ${stage})
file(COPY ${BUILD_DIR}/cassmak.exe ${BUILD_DIR}/casstool.exe ${SOURCE_DIR}/README.md ${SOURCE_DIR}/LICENSE ${SOURCE_DIR}/CHANGELOG.md
  DESTINATION ${stage})
foreach(page ${MAN_PAGES})
  get_filename_component(page_name ${page} NAME)
  # -P -cbou: plain text, without the overstriking or escape sequences of
  # bold and underline.
  execute_process(
    COMMAND ${GROFF} -man -T utf8 -P -cbou ${page}
    OUTPUT_FILE ${stage}/${page_name}.txt
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()

# The same bytes from the same sources: every entry gets the time of the
# commit (SOURCE_DATE_EPOCH) or a fixed one, no other attributes (zip -X),
# and a fixed order.
find_program(ZIP zip)
find_program(TOUCH touch)
if(NOT ZIP OR NOT TOUCH)
  message(FATAL_ERROR "The Windows zip is packed with zip (Debian and Ubuntu: apt-get install zip)")
endif()
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(mtime "@$ENV{SOURCE_DATE_EPOCH}")
else()
  set(mtime "2026-01-01 00:00:00 UTC")
endif()
set(entries)
foreach(entry cassmak.exe casstool.exe README.md LICENSE CHANGELOG.md)
  list(APPEND entries ${name}/${entry})
endforeach()
foreach(page ${MAN_PAGES})
  get_filename_component(page_name ${page} NAME)
  list(APPEND entries ${name}/${page_name}.txt)
endforeach()
file(REMOVE ${ZIP_FILE})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${TOUCH} -d ${mtime} ${entries}
  WORKING_DIRECTORY ${BUILD_DIR}/zip
  COMMAND_ERROR_IS_FATAL ANY)
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${ZIP} -q -X -D ${ZIP_FILE} ${entries}
  WORKING_DIRECTORY ${BUILD_DIR}/zip
  COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "Windows release: ${ZIP_FILE}")
