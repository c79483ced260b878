# Places the outside programs Clipvane drives beside the built executables as
# links to the system's: tools/<tool> for each of CLIPVANE_TOOLS, the encoders
# of engine/Backends.cpp and the preview player. The program finds them through
# its own folder, so a missing one is reported here but does not stop the build.
# cmake/Install.cmake installs the same list.
set(CLIPVANE_TOOLS mencoder ffmpeg mplayer)
set(CLIPVANE_TOOLS_DIR ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/tools)
file(MAKE_DIRECTORY ${CLIPVANE_TOOLS_DIR})

foreach(tool ${CLIPVANE_TOOLS})
    string(TOUPPER ${tool} var)
    find_program(CLIPVANE_${var}_PROGRAM ${tool})
    if(CLIPVANE_${var}_PROGRAM)
        file(CREATE_LINK ${CLIPVANE_${var}_PROGRAM} ${CLIPVANE_TOOLS_DIR}/${tool} SYMBOLIC)
        message(STATUS "tools/${tool} -> ${CLIPVANE_${var}_PROGRAM}")
    else()
        file(REMOVE ${CLIPVANE_TOOLS_DIR}/${tool})
        message(WARNING "${tool} was not found: Clipvane builds, but cannot "
                        "${tool}-dependent work until it is installed (apt-get install ${tool}).")
    endif()
endforeach()
