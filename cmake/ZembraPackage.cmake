# The Debian package (scripts/package; `cpack -G DEB` in a build folder): what `cmake --install`
# puts under /usr, with the run-time dependencies declared.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zembra)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Zembra developers")
set(CPACK_PACKAGE_CONTACT "${ZEMBRA_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch media converter: sound of videos into audio files, and videos")
# The control file's long description: lines of at most 80 characters.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Zembra extracts the sound of a video into an audio file (mp3, mp2, wma, ogg,"
  "aac, m4a, flac, ac3, wav, au, ra) and converts videos into other formats,"
  "many files at once. It has a window (zembra) and a command-line converter"
  "(zembra-cli), and drives the FFmpeg libraries of the system.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ZEMBRA_PROJECT_URL})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# What the programs and the hook modules link (Qt, Imlib2, FreeType, libgif, the C++ library).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What no ELF file names: the FFmpeg libraries are opened at run time, by the majors of the headers
# built against (Debian names each package after its library's major); Qt's platform plug-ins
# are plug-ins, and the hook modules' fonts are links into Debian's font package.
set(ZEMBRA_RUNTIME_PACKAGES)
foreach(ZEMBRA_LIBRARY libavcodec libavformat libavutil libavfilter libswscale libswresample)
  string(REGEX MATCH "^[0-9]+" ZEMBRA_MAJOR "${FFMPEG_HEADERS_${ZEMBRA_LIBRARY}_VERSION}")
  list(APPEND ZEMBRA_RUNTIME_PACKAGES ${ZEMBRA_LIBRARY}${ZEMBRA_MAJOR})
endforeach()
list(APPEND ZEMBRA_RUNTIME_PACKAGES qt6-qpa-plugins fonts-dejavu-core)
list(JOIN ZEMBRA_RUNTIME_PACKAGES ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
# A font with the CJK characters, so that such file names do not show as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion, fonts-noto-cjk")

include(CPack)
