# Host toolkit adapters (src/adapters/<toolkit>/): each a shared library of its own that a host
# attaching it links (Quillon::gtk4, quillon-gtk4.pc, ...), so that libquillon and
# libquillon-ui never link a host toolkit. Each is built when its toolkit's development files
# are installed. The GTK adapters share src/adapters/gtk-common/.
#
# Everything of theirs (libraries, CMake exports, .pc files) is the install component "gtk",
# the Debian package libquillon-gtk, so that libquillon2 never depends on GTK.
#
# quillon_gtk_adapter(VERSION PKG): libquillon-gtkVERSION on the pkg-config module PKG (whose
# imported target PkgConfig::GTKVERSION the caller found); its install exports Quillon::gtkVERSION
# in a file of its own, which QuillonConfig.cmake loads where that GTK is installed.
function(quillon_gtk_adapter version pkg)
  set(t quillon_gtk${version})
  add_library(${t} SHARED src/adapters/gtk${version}/WrenGtk${version}.cpp src/adapters/gtk-common/WrenGtkCommon.cpp)
  target_compile_options(${t} PRIVATE ${QUILLON_WARNINGS})
  target_include_directories(${t} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(${t} PUBLIC quillon_ui
    $<BUILD_INTERFACE:PkgConfig::GTK${version}> $<INSTALL_INTERFACE:PkgConfig::QUILLON_GTK${version}>)
  set_target_properties(${t} PROPERTIES OUTPUT_NAME quillon-gtk${version} VERSION ${PROJECT_VERSION} SOVERSION 2
    EXPORT_NAME gtk${version} CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  add_library(Quillon::gtk${version} ALIAS ${t})
  install(TARGETS ${t} EXPORT QuillonGtk${version}Targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT gtk)
  install(EXPORT QuillonGtk${version}Targets NAMESPACE Quillon::
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Quillon COMPONENT gtk)
  set(QUILLON_GTK_VERSION ${version})
  set(QUILLON_GTK_PKG ${pkg})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/quillon-gtk.pc.in ${PROJECT_BINARY_DIR}/quillon-gtk${version}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/quillon-gtk${version}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT gtk)
  if(QUILLON_BUILD_EXAMPLES)
    add_subdirectory(examples/gtk${version}-feedback)
  endif()
endfunction()

if(GTK4_FOUND)
  quillon_gtk_adapter(4 gtk4)
endif()
if(GTK3_FOUND)
  quillon_gtk_adapter(3 gtk+-3.0)
endif()
