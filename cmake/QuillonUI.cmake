# libquillon-ui: the user-interface toolkit (src/platform/ui) and the feedback screens
# (src/Wren/ui), on Cairo, Pango, SDL2, giflib and libjpeg-turbo. libquillon never links it:
# it loads it on demand when the feedback screens start (platform/runtime/ToolkitLoader), so
# a crash-only host maps none of these libraries. Hosts that build screens of their own link
# it (Quillon::ui, or quillon-ui.pc).
# The platform services the UI library uses are exported from libquillon.so (their objects
# are built with default visibility), so that the process has one main run loop, one
# logger, one dispatch pool and one notification center.
foreach(src foundation/Bundle foundation/DateFormat foundation/Files foundation/Logger foundation/Value
            runtime/DispatchQueue runtime/NotificationCenter runtime/RunLoop runtime/ObjectRuntime
            runtime/ToolkitLoader system/SystemRoot ui/Screen)
  set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/src/platform/${src}.cpp PROPERTIES COMPILE_OPTIONS -fvisibility=default)
endforeach()
# The edit screen reads and writes the record it remembers the contact in.
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/src/Wren/WrenUserData.cpp PROPERTIES COMPILE_OPTIONS -fvisibility=default)

pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)
pkg_check_modules(PANGOCAIRO REQUIRED IMPORTED_TARGET pangocairo)
pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)
find_package(GIF REQUIRED)
find_package(JPEG REQUIRED)

file(GLOB QUILLON_UI_SOURCES CONFIGURE_DEPENDS src/platform/ui/*.cpp src/Wren/ui/*.cpp)
list(REMOVE_ITEM QUILLON_UI_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/ui/Screen.cpp)

add_library(quillon_ui_obj OBJECT ${QUILLON_UI_SOURCES})
target_include_directories(quillon_ui_obj PUBLIC
  $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
  $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/src>
  $<BUILD_INTERFACE:${CMAKE_CURRENT_BINARY_DIR}/generated>)
target_compile_definitions(quillon_ui_obj PRIVATE QUILLON_BUILDING
  QUILLON_UI_DATADIR="${CMAKE_INSTALL_FULL_DATADIR}/quillon" QUILLON_UI_VERSION="${PROJECT_VERSION}")
target_compile_options(quillon_ui_obj PRIVATE ${QUILLON_WARNINGS})
target_link_libraries(quillon_ui_obj PUBLIC nlohmann_json::nlohmann_json
  PkgConfig::CAIRO PkgConfig::PANGOCAIRO PkgConfig::SDL2 GIF::GIF JPEG::JPEG)
set_target_properties(quillon_ui_obj PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

set(QUILLON_UI_INSTALL_LIBS cairo pangocairo-1.0 pango-1.0 gobject-2.0 glib-2.0 SDL2 gif jpeg)

add_library(quillon_ui SHARED $<TARGET_OBJECTS:quillon_ui_obj>)
target_link_libraries(quillon_ui PUBLIC quillon PRIVATE $<BUILD_INTERFACE:quillon_ui_obj>)
set_target_properties(quillon_ui PROPERTIES OUTPUT_NAME quillon-ui VERSION ${PROJECT_VERSION} SOVERSION 2 EXPORT_NAME ui)

add_library(quillon_ui_static STATIC $<TARGET_OBJECTS:quillon_ui_obj>)
target_link_libraries(quillon_ui_static INTERFACE quillon_static
  $<BUILD_INTERFACE:quillon_ui_obj> $<INSTALL_INTERFACE:${QUILLON_UI_INSTALL_LIBS}>)
# The loader finds the screens' entry point in the process: keep it linked and visible.
target_link_options(quillon_ui_static INTERFACE
  "LINKER:--undefined=quillon_ui_wren_screens" "LINKER:--export-dynamic-symbol=quillon_ui_wren_screens")
set_target_properties(quillon_ui_static PROPERTIES OUTPUT_NAME quillon-ui EXPORT_NAME ui_static)
foreach(t quillon_ui quillon_ui_static)
  target_include_directories(${t} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
endforeach()
add_library(Quillon::ui ALIAS quillon_ui)
add_library(Quillon::ui_static ALIAS quillon_ui_static)

# Internal target for tests, tools and the demo: both static libraries and the internal headers.
add_library(quillon_ui_internal INTERFACE)
target_link_libraries(quillon_ui_internal INTERFACE quillon_ui_static quillon_internal)

install(TARGETS quillon_ui quillon_ui_static EXPORT QuillonTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
list(TRANSFORM QUILLON_UI_INSTALL_LIBS PREPEND "-l" OUTPUT_VARIABLE QUILLON_UI_PC_STATIC_LIBS)
list(JOIN QUILLON_UI_PC_STATIC_LIBS " " QUILLON_UI_PC_STATIC_LIBS)
configure_file(cmake/quillon-ui.pc.in ${CMAKE_CURRENT_BINARY_DIR}/quillon-ui.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quillon-ui.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
