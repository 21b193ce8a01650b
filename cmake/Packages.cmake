# Debian packages from the same build (cpack -G DEB in the build folder, configured
# with CMAKE_INSTALL_PREFIX=/usr): vantrel (the tool, the Linux plug-in, the man page,
# the audio/x-vnf type and the thumbnailer; dpkg's triggers update the MIME database),
# libvantrel1 (the shared library), libvantrel-dev (header, archive, pkg-config and
# CMake files), gstreamer1.0-vantrel (the GStreamer plug-in) and vlc-plugin-vantrel
# (the VLC plug-in). Dependencies on system libraries come from dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_VENDOR "The Vantrel developers")
set(CPACK_PACKAGE_CONTACT "${VANTREL_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "player and renderer for VNF songs")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool lib dev)
if(TARGET gstvantrel)
  list(APPEND CPACK_COMPONENTS_ALL gst)
endif()
if(TARGET vantrel_vlc)
  list(APPEND CPACK_COMPONENTS_ALL vlc)
endif()
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME vantrel)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_TOOL_DESCRIPTION "VNF songs (.vn) hold MP3 clips and a structure of arrangements, sections
and variations; every play draws a performance and mixes it live. The
vantrel command shows what a song holds, draws its performances, renders
them to WAV or raw PCM, plays them and builds songs from sound files.
Also holds the media player input plug-in built for Linux, and makes the
desktop know the songs: their type (audio/x-vnf) and thumbnails of their
structure in file managers.
Free software under the BSD 3-Clause licence; the copyright file also
holds the notices of CLI11 and nlohmann-json, which are compiled in.")

set(CPACK_DEBIAN_LIB_PACKAGE_NAME libvantrel1)
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/install/triggers)
set(CPACK_DEBIAN_LIB_DESCRIPTION "library for playing VNF songs
libvantrel opens VNF songs (.vn) from files or memory, draws numbered
performances and renders them to 44100 Hz 16-bit stereo PCM, with exact
and media-player seeks, through a small C interface.
Free software under the BSD 3-Clause licence.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvantrel-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libvantrel1 (= ${PROJECT_VERSION}-1), libmpg123-dev")
set(CPACK_DEBIAN_DEV_DESCRIPTION "library for playing VNF songs - development files
libvantrel opens VNF songs (.vn) from files or memory, draws numbered
performances and renders them to 44100 Hz 16-bit stereo PCM.
This package holds the C header, the static library, the pkg-config file
and the CMake package.
Free software under the BSD 3-Clause licence.")

set(CPACK_DEBIAN_GST_PACKAGE_NAME gstreamer1.0-vantrel)
set(CPACK_DEBIAN_GST_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_GST_DESCRIPTION "GStreamer plug-in for VNF songs
VNF songs (.vn) hold MP3 clips and a structure of arrangements, sections
and variations; every play draws a performance and mixes it live. This
plug-in lets GStreamer players (playbin, gst-play-1.0 and the desktop
players built on them) play them: the element vantreldec decodes them to
44100 Hz 16-bit stereo with exact seeking, and a type finder recognises
them. Free software under the BSD 3-Clause licence.")

set(CPACK_DEBIAN_VLC_PACKAGE_NAME vlc-plugin-vantrel)
set(CPACK_DEBIAN_VLC_PACKAGE_SECTION video)
# VLC's raw audio decoder and file access are in vlc-plugin-base; the song type and
# thumbnails on the desktop come with the tool's package.
set(CPACK_DEBIAN_VLC_PACKAGE_DEPENDS "vlc-plugin-base")
set(CPACK_DEBIAN_VLC_PACKAGE_RECOMMENDS "vantrel")
set(CPACK_DEBIAN_VLC_PACKAGE_ENHANCES "vlc")
set(CPACK_DEBIAN_VLC_DESCRIPTION "VLC plug-in for VNF songs
VNF songs (.vn) hold MP3 clips and a structure of arrangements, sections
and variations; every play draws a performance and mixes it live. This
plug-in lets VLC play them: performance 1 by default (or a fresh draw per
play), with the song's texts as metadata, exact seeking, and the song's
arrangements as titles. Free software under the BSD 3-Clause licence.")

include(CPack)
