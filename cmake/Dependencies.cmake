# Third-party libraries, found on the system (Debian packages) or, for cross builds,
# in a prefix given by VANTREL_MPG123_PREFIX.
set(VANTREL_MPG123_PREFIX "" CACHE PATH "Prefix of a libmpg123 build to use instead of pkg-config")

if(VANTREL_MPG123_PREFIX)
  add_library(vantrel_mpg123 STATIC IMPORTED GLOBAL)
  set_target_properties(vantrel_mpg123 PROPERTIES
    IMPORTED_LOCATION "${VANTREL_MPG123_PREFIX}/lib/libmpg123.a"
    INTERFACE_INCLUDE_DIRECTORIES "${VANTREL_MPG123_PREFIX}/include"
    INTERFACE_COMPILE_DEFINITIONS "MPG123_STATIC")
  if(WIN32)
    # The static libmpg123 for Windows resolves relative paths with the shell
    # path functions (see Libs.private in its libmpg123.pc).
    set_property(TARGET vantrel_mpg123 APPEND PROPERTY INTERFACE_LINK_LIBRARIES shlwapi)
  endif()
  add_library(vantrel::mpg123 ALIAS vantrel_mpg123)
  # libout123 from the same build, when it is there (the tool's play output).
  if(EXISTS "${VANTREL_MPG123_PREFIX}/lib/libout123.a")
    add_library(vantrel_out123 STATIC IMPORTED GLOBAL)
    set_target_properties(vantrel_out123 PROPERTIES
      IMPORTED_LOCATION "${VANTREL_MPG123_PREFIX}/lib/libout123.a"
      INTERFACE_INCLUDE_DIRECTORIES "${VANTREL_MPG123_PREFIX}/include")
    if(WIN32)
      # Its audio output is the system's waveOut.
      set_property(TARGET vantrel_out123 APPEND PROPERTY INTERFACE_LINK_LIBRARIES winmm shlwapi)
    endif()
    add_library(vantrel::out123 ALIAS vantrel_out123)
  endif()
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MPG123 REQUIRED IMPORTED_TARGET GLOBAL libmpg123)
  add_library(vantrel::mpg123 ALIAS PkgConfig::MPG123)
endif()
