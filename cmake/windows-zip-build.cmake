# Run with cmake -P by the windows_zip target: builds the Windows release
# of both tools in BUILD_DIR and packs them with the documents into ZIP_FILE:
# a short README.txt for Windows, the license and the changelog, and the man
# pages rendered as UTF-8 text (`groff -man -T utf8`), each as a .txt file
# with CRLF line ends, as Windows programs show text best.
foreach(var SOURCE_DIR BUILD_DIR VERSION ZIP_FILE MAN_PAGES GENERATOR)
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
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BUILD_DIR} -G ${GENERATOR}
    -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCASSMAK_WINDOWS_ZIP=OFF
    # Stripped by the linker, as the Debian package's executables are
    # stripped (strip itself would write the time into the executable).
    -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s
  COMMAND_ERROR_IS_FATAL ANY)
# Under make this build is a sub-make of the one that runs the script
# (PARENT_MAKE): it takes its jobs from that build's -j through the jobserver
# make hands down, where a -j of its own would cut it off from it. Any other
# generator runs two jobs.
if(PARENT_MAKE)
  set(parallel)
else()
  set(parallel --parallel 2)
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} ${parallel} --target cassmak casstool
  COMMAND_ERROR_IS_FATAL ANY)

set(name cassmak-${VERSION}-windows-x86_64)
set(stage ${BUILD_DIR}/zip/${name})
file(REMOVE_RECURSE ${BUILD_DIR}/zip)
file(MAKE_DIRECTORY ${stage})
file(COPY ${BUILD_DIR}/cassmak.exe ${BUILD_DIR}/casstool.exe DESTINATION ${stage})

# Writes TEXT to the stage as NAME with every line ended by CR LF.
function(put_text name text)
  string(REGEX REPLACE "\r?\n" "\r\n" text "${text}")
  file(WRITE ${stage}/${name} "${text}")
endfunction()
configure_file(${SOURCE_DIR}/cmake/windows-readme.txt.in ${BUILD_DIR}/README.txt @ONLY)
set(texts README.txt ${BUILD_DIR}/README.txt LICENSE.txt ${SOURCE_DIR}/LICENSE
  CHANGELOG.txt ${SOURCE_DIR}/CHANGELOG.md)
while(texts)
  list(POP_FRONT texts text_name text_file)
  file(READ ${text_file} text)
  put_text(${text_name} "${text}")
endwhile()
set(pages)
foreach(page ${MAN_PAGES})
  get_filename_component(page_name ${page} NAME)
  # -P -cbou: plain text, without the overstriking or escape sequences of
  # bold and underline.
  execute_process(
    COMMAND ${GROFF} -man -T utf8 -P -cbou ${page}
    OUTPUT_VARIABLE text
    COMMAND_ERROR_IS_FATAL ANY)
  put_text(${page_name}.txt "${text}")
  list(APPEND pages ${page_name}.txt)
endforeach()

# The same bytes from the same sources: every entry gets the time of the
# commit (SOURCE_DATE_EPOCH when building, else the one configured) or a
# fixed one, no other attributes (zip -X),
# and a fixed order.
find_program(ZIP zip)
find_program(TOUCH touch)
if(NOT ZIP OR NOT TOUCH)
  message(FATAL_ERROR "The Windows zip is packed with zip (Debian and Ubuntu: apt-get install zip)")
endif()
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(mtime "@$ENV{SOURCE_DATE_EPOCH}")
elseif(DEFINED SOURCE_DATE_EPOCH)
  set(mtime "@${SOURCE_DATE_EPOCH}")
else()
  set(mtime "2026-01-01 00:00:00 UTC")
endif()
set(entries)
foreach(entry cassmak.exe casstool.exe README.txt ${pages} CHANGELOG.txt LICENSE.txt)
  list(APPEND entries ${name}/${entry})
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
