# Where `cmake --install` puts things. The programs look for LibAV/, vhook/ and help/ beside their
# real path, so they are installed together in one private folder and bin/ only links to them.
include(GNUInstallDirs)

set(ZEMBRA_INSTALL_DIR lib/zembra)
# The reverse-DNS name of the desktop entry, the icon and the metainfo.
set(ZEMBRA_APP_ID io.github.zembra.Zembra)
set(ZEMBRA_RELEASE_DATE 2026-12-08)
# Who answers for the package: its control file, its copyright file and its changelog's entries.
set(ZEMBRA_MAINTAINER "The Zembra developers <developers@zembra.example.org>")

# Installs the program TARGET into the private folder and links bin/TARGET to it. The link is
# relative, so the tree can be moved (DESTDIR, a package's root) without breaking it.
function(zembra_install_program TARGET)
  install(TARGETS ${TARGET} RUNTIME DESTINATION ${ZEMBRA_INSTALL_DIR})
  file(RELATIVE_PATH Target /${CMAKE_INSTALL_BINDIR} /${ZEMBRA_INSTALL_DIR}/${TARGET})
  install(CODE "
    set(Link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${TARGET}\")
    message(STATUS \"Installing: \${Link} -> ${Target}\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(CREATE_LINK \"${Target}\" \"\${Link}\" SYMBOLIC)")
endfunction()
