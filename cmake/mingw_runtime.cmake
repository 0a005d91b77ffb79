# Run by the install step of a Windows build whose C++ runtime is not
# linked in (QUELVO_STATIC_RUNTIME=OFF): installs beside the program the
# compiler's DLLs it loads, so that the zip still runs on its own. Which
# ones depends on the toolchain (its thread model, its exception model), so
# they are found by following the import tables from the program down, each
# name looked up where the compiler finds its own libraries; the system's
# DLLs are not found there and stay out.
#
#   QUELVO_EXE        the program
#   QUELVO_OBJDUMP    the toolchain's objdump
#   QUELVO_CXX        the toolchain's compiler
#   QUELVO_STRIP      the toolchain's strip
#   QUELVO_DLL_DIR    where the DLLs go, relative to CMAKE_INSTALL_PREFIX
set(queue "${QUELVO_EXE}")
set(dlls)
while(queue)
  list(POP_FRONT queue file)
  execute_process(COMMAND "${QUELVO_OBJDUMP}" -p "${file}"
                  OUTPUT_VARIABLE dump RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${QUELVO_OBJDUMP} -p ${file} failed")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
  foreach(import IN LISTS imports)
    string(REGEX REPLACE "^DLL Name: *" "" name "${import}")
    string(STRIP "${name}" name)
    execute_process(COMMAND "${QUELVO_CXX}" "-print-file-name=${name}"
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    # The compiler echoes a name it cannot find.
    if(IS_ABSOLUTE "${path}" AND EXISTS "${path}")
      get_filename_component(path "${path}" REALPATH)
      # list(FIND), not IN_LIST: an install script runs under no policy.
      list(FIND dlls "${path}" at)
      if(at EQUAL -1)
        list(APPEND dlls "${path}")
        list(APPEND queue "${path}")
      endif()
    endif()
  endforeach()
endwhile()
foreach(dll IN LISTS dlls)
  file(INSTALL "${dll}" DESTINATION "${CMAKE_INSTALL_PREFIX}/${QUELVO_DLL_DIR}")
  # Stripped with the program (cpack's CPACK_STRIP_FILES, `cmake --install
  # --strip`): Debian's libstdc++-6.dll is 23 MB with its debugging data,
  # 2 MB without.
  if(CMAKE_INSTALL_DO_STRIP)
    get_filename_component(name "${dll}" NAME)
    execute_process(COMMAND "${QUELVO_STRIP}" --strip-unneeded
      "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${QUELVO_DLL_DIR}/${name}"
      RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${QUELVO_STRIP} ${name} failed")
    endif()
  endif()
endforeach()
