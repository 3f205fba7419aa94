# The native converter installs like a Linux tool: the program, its manual
# page, the read-me and copyright under share/doc/korvane, and the watch
# folder's systemd unit. CPack makes a
# Debian package, korvane_<version>_<arch>.deb, of the same files.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(KORVANE_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/korvane)
install(TARGETS korvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES docs/korvane.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md installer/copyright DESTINATION ${KORVANE_DOCDIR})
# The systemd template unit of the watch folder, installed disabled: each
# /etc/korvane/watch-NAME.conf is started as korvane-watch@NAME.
# It names the program where it is installed: the prefix is known only then.
install(CODE "set(KORVANE_BINARY \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/korvane\")
  configure_file(\"${CMAKE_SOURCE_DIR}/installer/korvane-watch@.service.in\"
                 \"${CMAKE_BINARY_DIR}/korvane-watch@.service\" @ONLY)")
install(FILES ${CMAKE_BINARY_DIR}/korvane-watch@.service DESTINATION lib/systemd/system)

# The homepage and mail address are the program's own, strings 5001 and 5002.
foreach(id 5001 5002)
  file(STRINGS ${CMAKE_SOURCE_DIR}/resources/Strings.rc line REGEX "^ *${id}, \"")
  string(REGEX REPLACE "^ *${id}, \"(.*)\"$" "\\1" KORVANE_${id} "${line}")
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Korvane developers")
set(CPACK_PACKAGE_CONTACT "The Korvane developers <${KORVANE_5002}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MPEG audio to WAVed MPEG (RIFF/WAVE) and back")
set(CPACK_PACKAGE_DESCRIPTION [[
korvane puts the MPEG audio stream of each file it is given, byte for byte,
behind a RIFF/WAVE header with fmt, fact, data and LIST/INFO chunks, so that
WAV players and editors with an MPEG decoder accept it, and turns such files
back into MPEG audio with an ID3v1.1 tag. Nothing is decoded or re-encoded.]])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${KORVANE_5001})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/DebStage.cmake)
include(CPack)
