# The Windows program's version resource, generated from the project version
# so that a release cannot ship an .exe whose resource names another
# version, and from the license's copyright line so that the holder is
# written down once.
#
#   quelvo_version_resource(TARGET)
function(quelvo_version_resource target)
  # FILEVERSION takes four numbers; the project gives three.
  set(parts)
  foreach(part MAJOR MINOR PATCH TWEAK)
    if("${PROJECT_VERSION_${part}}" STREQUAL "")
      list(APPEND parts 0)
    else()
      list(APPEND parts ${PROJECT_VERSION_${part}})
    endif()
  endforeach()
  list(JOIN parts "," QUELVO_RC_VERSION)

  file(STRINGS "${PROJECT_SOURCE_DIR}/LICENSE" copyright
       REGEX "^Copyright \\([cC]\\) [0-9][-0-9, ]* .+$" LIMIT_COUNT 1)
  if(NOT copyright MATCHES "^Copyright \\([cC]\\) [0-9][-0-9, ]* (.+)$")
    message(FATAL_ERROR "LICENSE has no 'Copyright (c) YEAR HOLDER' line "
                        "for the version resource")
  endif()
  set(QUELVO_RC_HOLDER "${CMAKE_MATCH_1}")
  set(QUELVO_RC_COPYRIGHT "${copyright}")

  configure_file("${PROJECT_SOURCE_DIR}/src/driver/quelvo.rc.in"
                 "${PROJECT_BINARY_DIR}/quelvo.rc" @ONLY)
  target_sources(${target} PRIVATE "${PROJECT_BINARY_DIR}/quelvo.rc")
endfunction()
