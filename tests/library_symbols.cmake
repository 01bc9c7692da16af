# Fails naming each symbol that the static library LIBRARY defines outside the
# cassmak namespace, the C++ runtime's own instances and the unwinder's
# references aside. Run with -DNM=... -DLIBRARY=...
execute_process(COMMAND ${NM} --defined-only ${LIBRARY}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} could not read ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${symbols}")
set(ours 0)
set(strays "")
foreach(line IN LISTS lines)
  # "ADDRESS TYPE NAME": only what others can link to (text, data, weak).
  if(NOT line MATCHES "^[0-9a-f]+ [TDBRVWG] (.+)$")
    continue()
  endif()
  set(name "${CMAKE_MATCH_1}")
  # MinGW's pointers to a symbol another library defines are named for it.
  string(REGEX REPLACE "^\\.refptr\\." "" name "${name}")
  if(name MATCHES "^_Z(N|NK|Z|ZN|TVN|TIN|TSN|GVN|THN|TCN)?7cassmak")
    math(EXPR ours "${ours} + 1")
  elseif(name MATCHES "^_Z(N|NK|Z|ZN|TV|TI|TS|GV)?(St|S[absiod]|9__gnu_cxx)" OR name MATCHES "^DW\\.ref\\.")
    # The standard library's templates and the unwinder's references.
  else()
    list(APPEND strays "${name}")
  endif()
endforeach()
if(ours EQUAL 0)
  message(FATAL_ERROR "no symbol of the cassmak namespace found in ${LIBRARY}")
endif()
if(strays)
  list(JOIN strays "\n  " strays)
  message(FATAL_ERROR "defined outside the cassmak namespace:\n  ${strays}")
endif()
message(STATUS "${ours} symbols, all in the cassmak namespace")
