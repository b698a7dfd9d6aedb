# The Debian package of the client (scripts/package.sh); included from the top
# directory, since CPack reads the variables of the scope that includes it.
set(QUILLORA_MAINTAINER "Quillora <lite@quillora.example>" CACHE STRING
    "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quilloralite)
set(CPACK_PACKAGE_VENDOR "Quillora")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QUILLORA_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop client of the Quillora document-preservation service")
# Broken by hand: control files want lines of under 80 characters.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Quillora Lite signs in to a Quillora account and keeps a local mirror of"
    "its preserved documents for word-by-word search. It preserves new files"
    "with the fields of their class, from its window or the file manager, and"
    "downloads preserved documents, checked against their fingerprint."
    "Its user interface is in Italian.")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUILLORA_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${QUILLORA_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: the mirror's SQLite
# driver, Qt's own Italian texts for its dialogs, Qt's further platforms (VNC),
# libXcursor, which the xcb platform opens by name for the cursor theme, and
# libsecret, through which QtKeychain reaches the desktop's Secret Service.
# The xcb and offscreen platforms, the TLS backends and the GIF reader come
# with libqt6gui6 and libqt6network6, which the libraries already pull in.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6sql6-sqlite, qt6-qpa-plugins, qt6-translations-l10n, libxcursor1, libsecret-1-0")
# Opening the exhibition page and a downloaded update goes through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/fuzz/findings/")
include(CPack)
