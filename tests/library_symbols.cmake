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
  # MinGW's pointers to a symbol another library defines, and
  # AddressSanitizer's marks of a global, are named for it.
  string(REGEX REPLACE "^(\\.refptr\\.|__odr_asan\\.)" "" name "${name}")
  # The name's first part, past the mangling's prefixes: a special name
  # (vtable, typeinfo, guard, a function's local), a nested name and its
  # qualifiers.
  string(REGEX REPLACE "^_Z(T[VISHCT]|GV|Z)?N?[KVRO]*" "" first "${name}")
  if(NOT name MATCHES "^_Z")
    set(first "")
  endif()
  if(first MATCHES "^7cassmak")
    math(EXPR ours "${ours} + 1")
  elseif(first MATCHES "^(St|S[absiod]|9__gnu_cxx|nw|na|dl|da)" OR name MATCHES "^DW\\.ref\\.")
    # The standard library's templates, the runtime's placement new and
    # delete, and the unwinder's references.
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
