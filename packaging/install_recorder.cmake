# Runs at install time, when the prefix is known, as install_service.cmake
# does for the service: the unit names the installed program and its
# settings file by full path.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(_qv_etc_dir /etc)
else()
  set(_qv_etc_dir ${CMAKE_INSTALL_PREFIX}/etc)
endif()
set(QV_BINDIR ${CMAKE_INSTALL_PREFIX}/bin)
set(QV_RECORDER_CONFIG ${_qv_etc_dir}/qvrecorder.conf)
string(MD5 _qv_prefix_hash "${CMAKE_INSTALL_PREFIX}")
set(_qv_unit ${QV_PACKAGING_BINARY}/recorder-unit-${_qv_prefix_hash}/qvrecorder.service)
configure_file(${QV_PACKAGING_SOURCE}/qvrecorder.service.in ${_qv_unit} @ONLY)
file(INSTALL ${_qv_unit} DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
configure_file(${QV_PACKAGING_SOURCE}/qvrecorder-session.service.in
               ${QV_PACKAGING_BINARY}/recorder-unit-${_qv_prefix_hash}/qvrecorder-session.service @ONLY)
file(INSTALL ${QV_PACKAGING_BINARY}/recorder-unit-${_qv_prefix_hash}/qvrecorder-session.service
     DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/user)
file(REMOVE_RECURSE ${QV_PACKAGING_BINARY}/recorder-unit-${_qv_prefix_hash})
# On for every user's graphical session, as the package's purpose is: sessions run by systemd start the unit,
# others the autostart entry (which systemd's sessions skip).
set(_qv_wants ${CMAKE_INSTALL_PREFIX}/lib/systemd/user/graphical-session.target.wants)
file(MAKE_DIRECTORY ${_qv_wants})
file(CREATE_LINK ../qvrecorder-session.service ${_qv_wants}/qvrecorder-session.service SYMBOLIC)
file(INSTALL ${QV_PACKAGING_SOURCE}/qvrecorder-session.desktop DESTINATION ${_qv_etc_dir}/xdg/autostart)
# Paths and names only, no secret: every user's qvrecorder send may read it
# to find the socket.
file(INSTALL ${QV_PACKAGING_SOURCE}/qvrecorder.conf DESTINATION ${_qv_etc_dir}
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
