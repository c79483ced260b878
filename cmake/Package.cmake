# cpack -G DEB (in the build folder) makes clipvane_<version>_<arch>.deb of what
# cmake --install lays out, under /usr: the program in /usr/lib/clipvane with
# its tools/ links to /usr/bin/mencoder and /usr/bin/mplayer, /usr/bin/clipvane,
# the desktop entry, the icons and the AppStream metainfo. The libraries the
# program links are found by dpkg-shlibdeps; the packages it needs besides them
# are the run packages of scripts/install-deps.sh (the one list of them: the
# encoder, the player and the fonts, for the form's Tahoma metrics and for the
# subtitles), and the Qt platform plugins (the window system's part of Qt, which
# no library links).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${CLIPVANE_DESKTOP_ID})
set(CPACK_PACKAGE_VENDOR ${CLIPVANE_MAKER})
set(CPACK_PACKAGE_CONTACT "${CLIPVANE_MAKER} <${CLIPVANE_SUPPORT_MAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${CLIPVANE_SUMMARY})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${CLIPVANE_HOME_PAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
file(STRINGS ${PROJECT_SOURCE_DIR}/scripts/install-deps.sh clipvane_run_packages
     REGEX "^RUN_PKGS=")
string(REGEX REPLACE "^RUN_PKGS=\"(.*)\"$" "\\1" clipvane_run_packages "${clipvane_run_packages}")
string(REPLACE " " ", " clipvane_run_packages "${clipvane_run_packages}")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${clipvane_run_packages}, qt6-qpa-plugins")
include(CPack)
