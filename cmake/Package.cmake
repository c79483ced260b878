# cpack -G DEB (in the build folder) makes clipvane_<version>_<arch>.deb of what
# cmake --install lays out, under /usr: the program in /usr/lib/clipvane with
# its tools/ links to /usr/bin/mencoder and /usr/bin/mplayer, /usr/bin/clipvane,
# the desktop entry, the icons and the AppStream metainfo. The libraries the
# program links are found by dpkg-shlibdeps; the packages it needs besides them
# are listed here: the encoder and the player, the Qt platform plugins (the
# window system's part of Qt, which no library links), and the fonts (Tahoma's
# metrics for the form, and the subtitle fonts for Korean and Japanese). They
# are the run packages of scripts/install-deps.sh, which the package test checks.
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
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "mencoder, mplayer, qt6-qpa-plugins, fonts-wine, fonts-liberation, fonts-nanum, fonts-ipafont-mincho, fonts-ipafont-gothic")
include(CPack)
