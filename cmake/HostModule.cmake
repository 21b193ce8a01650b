# Plug-in modules that other programs load (the GStreamer and VLC plug-ins): C over
# the static libvantrel, linked as C++ (the engine's runtime), so that the module
# needs nothing of ours at run time, and exporting only what the version script
# `exports` lists (the engine's and the C++ runtime's symbols stay inside).
function(vantrel_host_module target exports)
  target_link_libraries(${target} PRIVATE vantrel_static)
  set_target_properties(${target} PROPERTIES PREFIX lib C_VISIBILITY_PRESET hidden LINKER_LANGUAGE CXX)
  target_link_options(${target} PRIVATE -Wl,--version-script=${exports} -Wl,--exclude-libs,ALL)
  if(NOT VANTREL_SANITIZE)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${exports})
endfunction()

# The host's plug-in folder, given by the pkg-config variable `variable` of `package`,
# taken relative to the host's own prefix, so that it lands under ours (/usr gives
# the system's folder; another prefix a folder to name in the host's plug-in path).
# `fallback` when the folder is not under the host's prefix. Sets `out`.
function(vantrel_host_plugin_dir out package variable fallback)
  pkg_get_variable(_dir ${package} ${variable})
  pkg_get_variable(_prefix ${package} prefix)
  file(RELATIVE_PATH _rel "${_prefix}" "${_dir}")
  if(_rel MATCHES "^\\.\\." OR _rel STREQUAL "")
    set(_rel ${fallback})
  endif()
  set(${out} ${_rel} PARENT_SCOPE)
endfunction()
