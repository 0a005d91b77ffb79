# What `cmake --install` puts where, and the Windows zip that `cpack -G ZIP`
# makes from the same rules.
if(WIN32)
  # A zip for people without a package manager: the program and its two
  # documents side by side at the top of one folder.
  install(TARGETS quelvo RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
else()
  # bash-completion loads a command's completion on demand from one folder;
  # its pkg-config file says which. The folder is kept relative to the
  # prefix, so that `cmake --install --prefix DIR` keeps every file in DIR.
  if(NOT DEFINED QUELVO_BASH_COMPLETION_DIR)
    set(completions "${CMAKE_INSTALL_DATADIR}/bash-completion/completions")
    find_package(PkgConfig QUIET)
    if(PKG_CONFIG_FOUND)
      pkg_get_variable(pc_completions bash-completion completionsdir)
      pkg_get_variable(pc_prefix bash-completion prefix)
      string(LENGTH "${pc_prefix}/" pc_prefix_length)
      string(FIND "${pc_completions}" "${pc_prefix}/" at)
      if(pc_prefix AND at EQUAL 0)
        string(SUBSTRING "${pc_completions}" ${pc_prefix_length} -1 completions)
      endif()
    endif()
    set(QUELVO_BASH_COMPLETION_DIR "${completions}" CACHE STRING
        "Where the bash completion file goes, relative to the prefix")
  endif()

  install(TARGETS quelvo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # --signature's module, in the program's own folder of the library tree.
  install(TARGETS quelvo_signature_module
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/quelvo)
  install(FILES doc/quelvo.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES completion/quelvo DESTINATION ${QUELVO_BASH_COMPLETION_DIR})
  # For scripts that validate what --json writes.
  install(FILES schema/quelvo.schema.json
          DESTINATION ${CMAKE_INSTALL_DATADIR}/quelvo)
endif()

# quelvo-X.Y.Z-win32.zip and -win64.zip: CPack names them after the
# project version and the Windows word size.
set(CPACK_PACKAGE_VENDOR "The quelvo developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Reports the version resource of Windows executables")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
include(CPack)
