# `cpack -G DEB`: three packages, so that the service's machine needs no Qt,
# an operator's desktop no service, and a monitored computer neither.
# qvviewer holds the viewer and qvreport (same Qt libraries and report
# classes); qvservice the service, its unit and its system user; qvrecorder
# the relay, its unit, settings and system user.
set(QV_PACKAGE_MAINTAINER "QVViewer maintainers <root@localhost>"
    CACHE STRING "The Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qvviewer)
set(CPACK_PACKAGE_VENDOR "Marrowind Software")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QV_PACKAGE_MAINTAINER})
set(CPACK_STRIP_FILES ON)
# The unit's paths are fixed when cpack installs, so it must install under
# its real prefix, into a staging DESTDIR.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL viewer service recorder)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://www.marrowind.com")

set(CPACK_DEBIAN_VIEWER_PACKAGE_NAME qvviewer)
set(CPACK_DEBIAN_VIEWER_PACKAGE_SECTION x11)
# Loaded at run time, so dpkg-shlibdeps cannot see them: the screen
# plugins (xcb for the viewer, offscreen for qvreport).
set(CPACK_DEBIAN_VIEWER_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_COMPONENT_VIEWER_DESCRIPTION
    "Quorvis activity viewer\nQVViewer connects to a Quorvis Service and shows who used which computer\nand program, for how long and with how many keyboard and mouse events,\nas reports with a sortable grid and a pie chart, exported as HTML.\nqvreport writes the same reports from the command line.")

set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME qvservice)
set(CPACK_DEBIAN_SERVICE_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVICE_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/prerm
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/conffiles)
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_SERVICE_DESCRIPTION
    "Quorvis Service: the activity store that QVViewer reads\nqvservice keeps activity records in an SQLite store and answers the\nviewer's queries over gRPC; it imports records from CSV files. The package\nruns it under systemd as the system user qvservice, answering on this\nmachine's loopback address only until /etc/default/qvservice says otherwise.")

set(CPACK_DEBIAN_RECORDER_PACKAGE_NAME qvrecorder)
set(CPACK_DEBIAN_RECORDER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_RECORDER_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_RECORDER_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/qvrecorder/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/qvrecorder/prerm
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/qvrecorder/postrm
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/qvrecorder/conffiles)
set(CPACK_DEBIAN_RECORDER_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_RECORDER_DESCRIPTION
    "Quorvis recorder relay: forwards a computer's activity records\nqvrecorder daemon takes activity records from the programs of this\ncomputer on a local socket, knowing each sender by its user id, keeps them\nin a spool and forwards them to the Quorvis Service over TLS with the\ncomputer's certificate, each record once, waiting out the service's\nabsences. The package runs it under systemd as the system user qvrecorder\nonce /etc/qvrecorder.conf names the service. qvrecorder session, started\nin each user's graphical session, records the window in front and how many\nkeyboard and mouse events it had (counts, never what was typed).")

include(CPack)
