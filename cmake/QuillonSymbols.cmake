# quillon_upload_symbols(TARGET target APP_KEY key VERSION version COLLECTOR url [TOKEN token])
#
# After every build of `target`, uploads its symbols (from the target file, or from the debug
# file its .gnu_debuglink names) with quillon-symbols, keyed by the application key and VERSION,
# the string crash records carry in "av" ("<CFBundleShortVersionString>(<CFBundleVersion>)",
# e.g. "1.4(27)"). Nothing happens unless QUILLON_UPLOAD_SYMBOLS is ON, so everyday builds never
# talk to a collector; release pipelines configure with -DQUILLON_UPLOAD_SYMBOLS=ON.
option(QUILLON_UPLOAD_SYMBOLS "Upload the symbols of targets set up with quillon_upload_symbols() after each build" OFF)

function(quillon_upload_symbols)
  cmake_parse_arguments(PARSE_ARGV 0 ARG "" "TARGET;APP_KEY;VERSION;COLLECTOR;TOKEN" "")
  foreach(required TARGET APP_KEY VERSION COLLECTOR)
    if(NOT DEFINED ARG_${required} OR "${ARG_${required}}" STREQUAL "")
      message(FATAL_ERROR "quillon_upload_symbols: ${required} is required")
    endif()
  endforeach()
  if(NOT TARGET ${ARG_TARGET})
    message(FATAL_ERROR "quillon_upload_symbols: no target ${ARG_TARGET}")
  endif()
  if(NOT QUILLON_UPLOAD_SYMBOLS)
    return()
  endif()
  if(NOT QUILLON_SYMBOLS_EXECUTABLE)
    find_program(QUILLON_SYMBOLS_EXECUTABLE quillon-symbols HINTS ${QUILLON_SYMBOLS_HINT})
  endif()
  if(NOT QUILLON_SYMBOLS_EXECUTABLE)
    message(FATAL_ERROR "quillon_upload_symbols: quillon-symbols not found (install the tools, or set "
                        "QUILLON_SYMBOLS_EXECUTABLE)")
  endif()
  set(token)
  if(ARG_TOKEN)
    set(token --token ${ARG_TOKEN})
  endif()
  add_custom_command(TARGET ${ARG_TARGET} POST_BUILD
    COMMAND ${QUILLON_SYMBOLS_EXECUTABLE} upload --collector ${ARG_COLLECTOR} --app-key ${ARG_APP_KEY}
            --version ${ARG_VERSION} ${token} $<TARGET_FILE:${ARG_TARGET}>
    COMMENT "Uploading the symbols of ${ARG_TARGET} (version ${ARG_VERSION})"
    VERBATIM)
endfunction()
