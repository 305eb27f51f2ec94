# Debian packages of the install components (scripts/package builds them):
#   libquillon2        the shared libraries, libquillon and libquillon-ui (runtime)
#   libquillon-dev     headers, static library, CMake package, .pc files (dev)
#   quillon-tools      quillon-collector, quillon-notify, quillon-symbols (tools)
#   libquillon-gtk     the GTK adapters with their CMake and pkg-config files (gtk), when built
#   libquillon2-dbgsym, quillon-tools-dbgsym   debug information, by build id under /usr/lib/debug
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quillon developers")
set(CPACK_PACKAGE_CONTACT "The Quillon developers <quillon@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Crash reporter and feedback tool linked into Linux applications")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tools)
if(TARGET quillon_gtk4 OR TARGET quillon_gtk3)
  list(APPEND CPACK_COMPONENTS_ALL gtk)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libquillon2)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "Crash reporter and feedback tool linked into Linux applications
 The shared libraries an application links to report its crashes (signals and uncaught
 exceptions, with a symbolised backtrace) and its users' feedback to a collection server:
 libquillon, and libquillon-ui (the toolkit of the feedback screens, loaded when they open).")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_RUNTIME_DEBUGINFO_PACKAGE ON)
# libcurl and libsystemd are opened at run time (the first request; the journal reader, the
# modem query), so no linker dependency names them.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libcurl4, libsystemd0")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libquillon-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION "Crash reporter and feedback tool: development files
 Headers, the static libraries, the CMake package (find_package(Quillon)) and the pkg-config
 files (quillon, quillon-static, quillon-ui).")
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
# Linking the static library needs these (the static UI library also the suggested ones);
# the shared libraries need none of them.
set(CPACK_DEBIAN_DEV_PACKAGE_RECOMMENDS "libgcrypt20-dev, libpugixml-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "libcairo2-dev, libpango1.0-dev, libsdl2-dev, libgif-dev, libjpeg-dev")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME quillon-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "Crash reporter and feedback tool: collection server and helpers
 quillon-collector, a reference collection server that stores what it receives in SQLite;
 quillon-symbols, which makes and uploads the symbol files of stripped builds; and
 quillon-notify, which posts the notices of an application's extensions.")
set(CPACK_DEBIAN_TOOLS_DEBUGINFO_PACKAGE ON)

set(CPACK_DEBIAN_GTK_PACKAGE_NAME libquillon-gtk)
set(CPACK_COMPONENT_GTK_DESCRIPTION "Crash reporter and feedback tool: the feedback flow over GTK windows
 libquillon-gtk4 and libquillon-gtk3, which put the feedback screens over a GTK application's
 window (wren_gtk_attach), with their CMake targets (Quillon::gtk4, Quillon::gtk3) and
 pkg-config files (quillon-gtk4, quillon-gtk3).")
set(CPACK_COMPONENT_GTK_DEPENDS dev)
# Its libraries link libquillon-ui of libquillon2 (named by the component dependency) and GTK.
set(CPACK_DEBIAN_GTK_PACKAGE_SHLIBDEPS OFF)
set(QUILLON_GTK_DEBIAN_DEPENDS)
if(TARGET quillon_gtk4)
  list(APPEND QUILLON_GTK_DEBIAN_DEPENDS "libgtk-4-1")
endif()
if(TARGET quillon_gtk3)
  list(APPEND QUILLON_GTK_DEBIAN_DEPENDS "libgtk-3-0")
endif()
list(JOIN QUILLON_GTK_DEBIAN_DEPENDS ", " CPACK_DEBIAN_GTK_PACKAGE_DEPENDS)

include(CPack)
