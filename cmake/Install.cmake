# cmake --install: the tool, the library (shared and static), its header, pkg-config
# and CMake package files, the Linux plug-in, the man page and the documentation.
# Components: tool, lib (the shared library), dev (header, archive, package files),
# gst (the GStreamer plug-in, in GStreamer's plug-in folder under the prefix, see
# gst/CMakeLists.txt), vlc (the VLC plug-in, in VLC's demux folder under the prefix,
# see vlc/CMakeLists.txt). Everything is relative to the prefix, so an installation
# can be moved, except the thumbnailer entry, which names the tool by its absolute path.
include(CMakePackageConfigHelpers)

set(VANTREL_PLUGIN_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/vantrel)

if(TARGET vantrel)
  install(TARGETS vantrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
  # Installed compressed, as man pages are on Debian; the version is filled in here.
  configure_file(${PROJECT_SOURCE_DIR}/docs/vantrel.1.in ${PROJECT_BINARY_DIR}/vantrel.1 @ONLY)
  execute_process(COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/vantrel.1)
  install(FILES ${PROJECT_BINARY_DIR}/vantrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
  if(NOT WIN32)
    file(RELATIVE_PATH _rel /x/${CMAKE_INSTALL_BINDIR} /x/${VANTREL_PLUGIN_INSTALL_DIR})
    target_compile_definitions(vantrel PRIVATE VANTREL_INSTALLED_PLUGIN_DIR="${_rel}")
  endif()
endif()

# The desktop: the audio/x-vnf type for the shared MIME database, and the thumbnailer
# entry that makes file managers run `vantrel thumbnail`. The entry is written at
# install time, naming the tool under the prefix installed to (--prefix included).
if(TARGET vantrel AND NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/desktop/vantrel.xml
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages COMPONENT tool)
  install(CODE "set(_vantrel_thumbnailer \"${PROJECT_SOURCE_DIR}/desktop/vantrel.thumbnailer.in\")
    set(_vantrel_thumbnailer_out \"${PROJECT_BINARY_DIR}/vantrel.thumbnailer\")
    set(_vantrel_bindir \"${CMAKE_INSTALL_BINDIR}\")
    set(_vantrel_datadir \"${CMAKE_INSTALL_DATAROOTDIR}\")" COMPONENT tool)
  install(CODE [[
    set(VANTREL_BIN "${CMAKE_INSTALL_PREFIX}/${_vantrel_bindir}/vantrel")
    configure_file("${_vantrel_thumbnailer}" "${_vantrel_thumbnailer_out}" @ONLY)
    file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${_vantrel_datadir}/thumbnailers"
      TYPE FILE FILES "${_vantrel_thumbnailer_out}")
  ]] COMPONENT tool)
endif()

if(TARGET in_vantrel AND NOT WIN32)
  install(TARGETS in_vantrel LIBRARY DESTINATION ${VANTREL_PLUGIN_INSTALL_DIR} COMPONENT tool)
endif()

if(TARGET vantrel_shared)
  install(TARGETS vantrel_shared EXPORT vantrelTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(TARGETS vantrel_static ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
  install(FILES ${PROJECT_SOURCE_DIR}/include/vantrel/vantrel.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vantrel COMPONENT dev)

  file(RELATIVE_PATH VANTREL_PC_TO_PREFIX /x/${CMAKE_INSTALL_LIBDIR}/pkgconfig /x)
  string(REGEX REPLACE "/$" "" VANTREL_PC_TO_PREFIX "${VANTREL_PC_TO_PREFIX}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/install/vantrel.pc.in ${PROJECT_BINARY_DIR}/vantrel.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/vantrel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

  set(_cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/vantrel)
  install(EXPORT vantrelTargets NAMESPACE vantrel:: DESTINATION ${_cmakedir} COMPONENT dev)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/install/vantrelConfig.cmake.in
    ${PROJECT_BINARY_DIR}/vantrelConfig.cmake INSTALL_DESTINATION ${_cmakedir})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/vantrelConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/vantrelConfig.cmake ${PROJECT_BINARY_DIR}/vantrelConfigVersion.cmake
    DESTINATION ${_cmakedir} COMPONENT dev)
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tool)
# The project's identity in the packages and their copyright files.
set(VANTREL_CONTACT "The Vantrel developers <developers@vantrel.org>")
install(FILES ${PROJECT_SOURCE_DIR}/docs/design.md
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libvantrel-dev COMPONENT dev)
# Every Debian package carries the copyright file and a changelog in its own
# documentation folder.
string(TIMESTAMP _date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${PROJECT_BINARY_DIR}/changelog.Debian
  "vantrel (${PROJECT_VERSION}-1) unstable; urgency=medium\n\n"
  "  * Release ${PROJECT_VERSION}.\n\n"
  " -- ${VANTREL_CONTACT}  ${_date}\n")
execute_process(COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/changelog.Debian)
set(_packages tool:vantrel lib:libvantrel1 dev:libvantrel-dev)
if(TARGET gstvantrel)
  list(APPEND _packages gst:gstreamer1.0-vantrel)
endif()
if(TARGET vantrel_vlc)
  list(APPEND _packages vlc:vlc-plugin-vantrel)
endif()
# The copyright files: our licence (LICENSE) and, in the tool's, the notices of the
# header-only libraries compiled into it, in the VLC plug-in's those of VLC's plug-in
# headers (their module descriptor macros and inline functions), from the Debian
# packages that provide them (cmake/install/debian-copyright.sh). The other packages
# carry only our code: the libraries they use are linked dynamically.
get_property(_tool_compiled_in GLOBAL PROPERTY VANTREL_TOOL_COMPILED_IN)
find_program(VANTREL_DPKG dpkg)
if(_tool_compiled_in AND NOT VANTREL_DPKG)
  message(WARNING "no dpkg: the tool's copyright file lacks the notices of ${_tool_compiled_in}")
  set(_tool_compiled_in)
endif()
set(_copyright_script ${PROJECT_SOURCE_DIR}/cmake/install/debian-copyright.sh)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/LICENSE ${_copyright_script})
foreach(_pair ${_packages})
  string(REPLACE ":" ";" _pair ${_pair})
  list(GET _pair 0 _component)
  list(GET _pair 1 _package)
  set(_compiled_in)
  if(_component STREQUAL "tool")
    string(REGEX REPLACE "^/" "" _tool_file "${CMAKE_INSTALL_FULL_BINDIR}/vantrel")
    foreach(_used IN LISTS _tool_compiled_in)
      list(APPEND _compiled_in "${_tool_file}=${_used}")
    endforeach()
  elseif(_component STREQUAL "vlc" AND VANTREL_DPKG)
    pkg_get_variable(_vlc_includedir vlc-plugin includedir)
    set(_compiled_in "${VANTREL_VLC_PLUGIN_DIR}/libvantrel_plugin.so=${_vlc_includedir}/vlc/plugins/vlc_plugin.h")
  endif()
  set(_copyright ${PROJECT_BINARY_DIR}/copyright/${_package}/copyright)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/copyright/${_package})
  execute_process(COMMAND sh ${_copyright_script} ${_copyright} "${VANTREL_CONTACT}"
      ${PROJECT_SOURCE_DIR}/LICENSE ${_compiled_in}
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    # Headers that no Debian package holds (installed by hand, say): the file still
    # carries our licence, and the build goes on.
    message(WARNING "the copyright file of ${_package} lacks the notices of ${_compiled_in}")
    execute_process(COMMAND sh ${_copyright_script} ${_copyright} "${VANTREL_CONTACT}"
        ${PROJECT_SOURCE_DIR}/LICENSE
      RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "the copyright file of ${_package} could not be made")
    endif()
  endif()
  install(FILES ${_copyright} ${PROJECT_BINARY_DIR}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${_package} COMPONENT ${_component})
endforeach()
