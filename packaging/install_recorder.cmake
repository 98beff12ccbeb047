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
file(REMOVE_RECURSE ${QV_PACKAGING_BINARY}/recorder-unit-${_qv_prefix_hash})
# Paths and names only, no secret: every user's qvrecorder send may read it
# to find the socket.
file(INSTALL ${QV_PACKAGING_SOURCE}/qvrecorder.conf DESTINATION ${_qv_etc_dir}
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
