# Third-party libraries, found on the system (Debian packages) or, for cross builds,
# in a prefix given by VANTREL_MPG123_PREFIX; and the parts of the build that are
# left out when what they need is missing. The engine and the tool cannot be built
# without theirs (a configure error names the packages); a front end or a test part
# without its own is left out with one "-- ... left out: ..." line, so that a
# machine with only scripts/install-deps.sh's "build" group configures and builds
# the tool and the demo. The package groups are those of scripts/install-deps.sh.

# vantrel_left_out(WHAT WHY): the one line that says a part is not built, and why.
function(vantrel_left_out what why)
  message(STATUS "${what} left out: ${why}")
endfunction()

# vantrel_require_missing(WHAT GROUP MISSING...): ends the configure naming each
# missing piece (as "name (Debian package)") and the install-deps.sh group that has them.
function(vantrel_require_missing what group)
  if(ARGN)
    list(JOIN ARGN ", " _list)
    message(FATAL_ERROR "${what} cannot be built without ${_list}. "
      "On Debian 12, scripts/install-deps.sh ${group} installs them.")
  endif()
endfunction()

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
  find_package(PkgConfig)
  if(NOT PKG_CONFIG_FOUND)
    vantrel_require_missing("Vantrel" build "pkg-config (pkg-config)")
  endif()
  pkg_check_modules(MPG123 QUIET IMPORTED_TARGET GLOBAL libmpg123)
  if(NOT MPG123_FOUND)
    vantrel_require_missing("The engine" build "libmpg123 (libmpg123-dev)")
  endif()
  add_library(vantrel::mpg123 ALIAS PkgConfig::MPG123)
endif()

# The fuzzing harnesses: clang with libFuzzer (scripts/install-deps.sh fuzz). The
# check is made again at every configure, so that installing clang's runtime is enough.
if(VANTREL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    vantrel_left_out("The fuzzing harnesses" "they need clang (CC=clang CXX=clang++; Debian: clang)")
    set(VANTREL_FUZZ OFF)
  else()
    include(CheckCXXSourceCompiles)
    unset(VANTREL_HAVE_LIBFUZZER CACHE)
    set(CMAKE_REQUIRED_FLAGS -fsanitize=fuzzer)
    set(CMAKE_REQUIRED_QUIET ON)
    check_cxx_source_compiles(
      "extern \"C\" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }"
      VANTREL_HAVE_LIBFUZZER)
    unset(CMAKE_REQUIRED_FLAGS)
    unset(CMAKE_REQUIRED_QUIET)
    if(NOT VANTREL_HAVE_LIBFUZZER)
      vantrel_left_out("The fuzzing harnesses"
        "clang cannot link with -fsanitize=fuzzer (Debian: libclang-rt-14-dev)")
      set(VANTREL_FUZZ OFF)
    endif()
  endif()
endif()

# The Linux plug-ins and the GoogleTest programs: with VANTREL_GST, VANTREL_VLC or
# VANTREL_TESTS at AUTO (the default) built where what they need is found and
# otherwise left out; ON requires it (scripts/test.sh asks for ON, so that the test
# bed cannot quietly shrink). The effective ON or OFF shadows the cached choice for
# the rest of the configure.
#
# vantrel_linux_plugin(VAR NAME GROUP MISSING MODULES...): VAR's effective value for
# the plug-in NAME, built where pkg-config finds MODULES (MISSING names their Debian
# package; GROUP is the install-deps.sh group that has it).
function(vantrel_linux_plugin var name group missing)
  if(NOT ${var})
    return()
  endif()
  if(WIN32 OR VANTREL_FUZZ OR EMSCRIPTEN)
    if(NOT ${var} STREQUAL "AUTO")
      message(FATAL_ERROR "${var} builds on Linux, without VANTREL_FUZZ")
    endif()
    set(${var} OFF PARENT_SCOPE)
    return()
  endif()
  pkg_check_modules(${var}_DEPS QUIET ${ARGN})
  if(${var}_DEPS_FOUND)
    set(${var} ON PARENT_SCOPE)
  elseif(${var} STREQUAL "AUTO")
    vantrel_left_out("${name}" "missing ${missing}; scripts/install-deps.sh ${group} installs them")
    set(${var} OFF PARENT_SCOPE)
  else()
    vantrel_require_missing("${name} (${var}=ON)" ${group} ${missing})
  endif()
endfunction()

vantrel_linux_plugin(VANTREL_GST "The GStreamer plug-in (gst/)" gst
  "GStreamer's development files (libgstreamer-plugins-bad1.0-dev)"
  gstreamer-1.0 gstreamer-base-1.0 gstreamer-audio-1.0 gstreamer-bad-audio-1.0)
vantrel_linux_plugin(VANTREL_VLC "The VLC plug-in (vlc/)" desktop
  "VLC's plug-in development files (libvlccore-dev)" vlc-plugin)

# The unit tests and the plug-in's tests need GoogleTest, and read the tool's output
# back with libsndfile and libopusfile. VANTREL_GTESTS says whether they are built;
# VANTREL_TESTS (then ON) keeps the rest of the test bed (the seed and hostile song
# writer, the C library's export check, the GStreamer pipelines).
set(VANTREL_GTESTS OFF)
if(VANTREL_TESTS)
  find_package(GTest QUIET)
  set(_missing)
  if(NOT GTest_FOUND)
    list(APPEND _missing "GoogleTest (googletest, libgtest-dev)")
  endif()
  if(NOT WIN32)
    pkg_check_modules(TEST_SNDFILE QUIET IMPORTED_TARGET sndfile)
    pkg_check_modules(TEST_OPUSFILE QUIET IMPORTED_TARGET opusfile)
    if(NOT TEST_SNDFILE_FOUND)
      list(APPEND _missing "libsndfile (libsndfile1-dev)")
    endif()
    if(NOT TEST_OPUSFILE_FOUND)
      list(APPEND _missing "libopusfile (libopusfile-dev)")
    endif()
  endif()
  if(NOT _missing)
    set(VANTREL_GTESTS ON)
  elseif(VANTREL_TESTS STREQUAL "AUTO")
    list(JOIN _missing ", " _missing)
    vantrel_left_out("The unit and plug-in tests"
      "missing ${_missing}; scripts/install-deps.sh tests installs them")
  else()
    vantrel_require_missing("The unit and plug-in tests (VANTREL_TESTS=ON)" tests ${_missing})
  endif()
  set(VANTREL_TESTS ON)
endif()
