# Writes the manual page with the folder the JSON schema is installed in
# filled in. Included at configure time, for the prefix configured, and by
# the install step, for the prefix it installs to (`cmake --install
# --prefix DIR` may name another): the page must name the schema where it
# lies.
#
#   QUELVO_MAN_SOURCE      doc/quelvo.1.in
#   QUELVO_MAN_OUTPUT      the page to write
#   QUELVO_MAN_DATADIR     the data folder, absolute or relative to
#   CMAKE_INSTALL_PREFIX
if(IS_ABSOLUTE "${QUELVO_MAN_DATADIR}")
  set(quelvo_man_datadir "${QUELVO_MAN_DATADIR}")
else()
  set(quelvo_man_datadir "${CMAKE_INSTALL_PREFIX}/${QUELVO_MAN_DATADIR}")
endif()
# The one placeholder, replaced as text: the same at configure and at
# install time, whatever else either scope defines.
file(READ "${QUELVO_MAN_SOURCE}" quelvo_man_page)
string(REPLACE "@CMAKE_INSTALL_FULL_DATADIR@" "${quelvo_man_datadir}"
       quelvo_man_page "${quelvo_man_page}")
# Rewritten in place, and only when it changes, so that an install as root
# leaves the build folder's copy to its owner.
set(quelvo_man_old "")
if(EXISTS "${QUELVO_MAN_OUTPUT}")
  file(READ "${QUELVO_MAN_OUTPUT}" quelvo_man_old)
endif()
if(NOT quelvo_man_old STREQUAL quelvo_man_page)
  file(WRITE "${QUELVO_MAN_OUTPUT}" "${quelvo_man_page}")
endif()
