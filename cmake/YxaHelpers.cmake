# yxa_add_plugin(NAME CORE) builds the loadable plug-in NAME from the static
# library CORE. The whole archive is linked so that the moc'ed plug-in entry
# points of the main class are kept although nothing in the module refers to them.
function(yxa_add_plugin name core)
  add_library(${name} MODULE ${CMAKE_SOURCE_DIR}/cmake/empty.cpp)
  target_link_libraries(${name} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${core}>")
  set_target_properties(${name} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${YXA_PLUGIN_OUTPUT_DIRECTORY}
    PREFIX "lib")
  target_link_options(${name} PRIVATE -Wl,--no-undefined)
  install(TARGETS ${name} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/yxa/plugins)
endfunction()
