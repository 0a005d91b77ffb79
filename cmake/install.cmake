# What `cmake --install` puts where, and the Windows zip that `cpack -G ZIP`
# makes from the same rules.
if(WIN32)
  # A zip for people without a package manager: the program and its two
  # documents side by side at the top of one folder, and the reference the
  # README links to where the link leads.
  install(TARGETS quelvo RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  install(FILES doc/reference.md DESTINATION doc)
  if(MINGW AND NOT QUELVO_STATIC_RUNTIME)
    install(CODE "
      set(QUELVO_EXE \"$<TARGET_FILE:quelvo>\")
      set(QUELVO_OBJDUMP \"${CMAKE_OBJDUMP}\")
      set(QUELVO_CXX \"${CMAKE_CXX_COMPILER}\")
      set(QUELVO_STRIP \"${CMAKE_STRIP}\")
      set(QUELVO_DLL_DIR .)
      include(\"${PROJECT_SOURCE_DIR}/cmake/mingw_runtime.cmake\")")
  endif()
  # The zip's program without its symbol table, which is three fifths of
  # the file; the build folder's keeps it, for a debugger.
  set(CPACK_STRIP_FILES TRUE)
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

  # The manual page names the JSON schema's installed path. The build
  # folder's doc/quelvo.1 names it for the configured prefix (the page the
  # tests lint, and `man -l build/doc/quelvo.1`); the install step makes
  # doc/install/quelvo.1 anew for the prefix it installs to, which `cmake
  # --install --prefix DIR` may change, and installs that. The second is
  # made now as well, so that an install as root rewrites a file the build
  # folder's owner still owns.
  set(QUELVO_MAN_SOURCE "${PROJECT_SOURCE_DIR}/doc/quelvo.1.in")
  set(QUELVO_MAN_DATADIR "${CMAKE_INSTALL_DATADIR}")
  set(QUELVO_MAN_OUTPUT "${PROJECT_BINARY_DIR}/doc/install/quelvo.1")
  include(${PROJECT_SOURCE_DIR}/cmake/man_page.cmake)
  install(CODE "
    set(QUELVO_MAN_SOURCE \"${QUELVO_MAN_SOURCE}\")
    set(QUELVO_MAN_OUTPUT \"${QUELVO_MAN_OUTPUT}\")
    set(QUELVO_MAN_DATADIR \"${QUELVO_MAN_DATADIR}\")
    include(\"${PROJECT_SOURCE_DIR}/cmake/man_page.cmake\")")
  install(FILES "${QUELVO_MAN_OUTPUT}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set(QUELVO_MAN_OUTPUT "${PROJECT_BINARY_DIR}/doc/quelvo.1")
  include(${PROJECT_SOURCE_DIR}/cmake/man_page.cmake)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               "${QUELVO_MAN_SOURCE}")
  install(FILES completion/quelvo DESTINATION ${QUELVO_BASH_COMPLETION_DIR})
  # For scripts that validate what --json writes.
  install(FILES schema/quelvo.schema.json
          DESTINATION ${CMAKE_INSTALL_DATADIR}/quelvo)
  # The terms go with every copy, as in the Windows zip. The Debian package
  # states them in its copyright file instead (debian/rules).
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# quelvo-X.Y.Z-win32.zip and -win64.zip: CPack names them after the
# project version and the Windows word size.
set(CPACK_PACKAGE_VENDOR "The quelvo developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
include(CPack)
