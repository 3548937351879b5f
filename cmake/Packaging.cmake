# The Debian package: `cpack -G DEB` in a build tree makes tarnwell_<version>_<arch>.deb of
# what `cmake --install` puts under /usr.
set(CPACK_GENERATOR DEB)
# Packaging takes what was built: "all" holds every test and benchmark, and building it first
# would rebuild them all whenever a source changed since.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_PACKAGE_NAME tarnwell)
set(CPACK_PACKAGE_VENDOR Brenvik)
set(CPACK_PACKAGE_CONTACT "Tarnwell developers <support@brenvik.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "file-transfer manager with queued, resumable copy tasks")
# Debian wants the long description in lines of under 80 characters.
set(CPACK_PACKAGE_DESCRIPTION "Tarnwell copies files and folders, usually from a file server's share, as
queued tasks: each task scans its source, copies it chunk by chunk under its
own speed limit, retries after network and file errors, resumes half-copied
files, and keeps restore files so that it carries on after a crash or a
reboot. The command line tarnctl runs the same engine and task queue without
the windows.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.brenvik.example/tarnwell/")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The Qt libraries come from the linked objects; the icons need Qt's SVG plugins, which
# nothing links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS libqt6svg6)
# Qt's own German texts, and xdg-open for the help and the folders the program opens.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, xdg-utils")
include(CPack)
