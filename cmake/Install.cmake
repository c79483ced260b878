# cmake --install <build> [--prefix <prefix>] lays Clipvane out as:
#   <prefix>/lib/clipvane/clipvane          the program
#   <prefix>/lib/clipvane/clipvane-batch    the batch command, beside it
#   <prefix>/lib/clipvane/tools/<tool>      links to the system's encoders and
#                                           player (CLIPVANE_TOOLS: mencoder,
#                                           ffmpeg, mplayer), beside the program,
#                                           where it looks for them (its own
#                                           folder + tools/)
#   <prefix>/bin/clipvane                   a link to the program: the folder the
#                                           program finds is that of the link's
#                                           target, so tools/ is found from here too
#   <prefix>/bin/clipvane-batch             the same for the batch command
#   <prefix>/share/applications/clipvane.desktop
#   <prefix>/share/icons/hicolor/<n>x<n>/apps/clipvane.png
#                                           the desktop entry and the icons, which
#                                           res/CMakeLists.txt installs
# The paths are taken at install time, so --prefix and DESTDIR both work.
set(CLIPVANE_INSTALL_DIR lib/clipvane)

install(TARGETS clipvane clipvane-batch RUNTIME DESTINATION ${CLIPVANE_INSTALL_DIR})

# Each tool of CLIPVANE_TOOLS (cmake/Tools.cmake) with the system's program it
# links to, as "<tool>=<program>".
set(clipvane_tool_links "")
foreach(tool ${CLIPVANE_TOOLS})
    string(TOUPPER ${tool} var)
    list(APPEND clipvane_tool_links "${tool}=${CLIPVANE_${var}_PROGRAM}")
endforeach()

install(CODE "
    set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
    set(root \"\$ENV{DESTDIR}\${prefix}\")
    file(MAKE_DIRECTORY \"\${root}/${CLIPVANE_INSTALL_DIR}/tools\" \"\${root}/bin\")
    set(links \"${clipvane_tool_links}\")
    foreach(pair IN LISTS links)
        string(REPLACE \"=\" \";\" pair \"\${pair}\")
        list(GET pair 0 tool)
        list(GET pair 1 target)
        if(target AND NOT target MATCHES \"NOTFOUND\$\")
            file(CREATE_LINK \"\${target}\" \"\${root}/${CLIPVANE_INSTALL_DIR}/tools/\${tool}\" SYMBOLIC)
            message(STATUS \"Installing: \${root}/${CLIPVANE_INSTALL_DIR}/tools/\${tool} -> \${target}\")
        endif()
    endforeach()
    foreach(program clipvane clipvane-batch)
        file(CREATE_LINK \"../${CLIPVANE_INSTALL_DIR}/\${program}\" \"\${root}/bin/\${program}\" SYMBOLIC)
        message(STATUS \"Installing: \${root}/bin/\${program}\")
    endforeach()
")
