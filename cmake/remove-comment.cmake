# The compilers' and the runtime's version notes (.comment) are of no use in
# an installed binary, and strip keeps them: cassmak_remove_comment(COMPONENT
# FILE...) removes them from each FILE (a path below the install prefix,
# generator expressions allowed) when COMPONENT is installed stripped.
function(cassmak_remove_comment component)
  if(NOT (CASSMAK_INSTALL_STRIP AND CMAKE_OBJCOPY))
    return()
  endif()
  foreach(file IN LISTS ARGN)
    install(CODE "
      set(installed \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${file}\")
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment \"\${installed}\"
        RESULT_VARIABLE status)
      if(NOT status EQUAL 0)
        message(FATAL_ERROR \"objcopy could not remove .comment from \${installed}\")
      endif()" COMPONENT ${component})
  endforeach()
endfunction()
