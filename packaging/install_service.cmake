# Runs at install time, when the prefix is known: `cmake --install --prefix`
# may differ from the configured one, and the package installs to /usr.
# The unit names the installed program and the defaults file by full path.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(_qv_defaults_dir /etc/default)
else()
  set(_qv_defaults_dir ${CMAKE_INSTALL_PREFIX}/etc/default)
endif()
set(QV_BINDIR ${CMAKE_INSTALL_PREFIX}/bin)
set(QV_DEFAULTS_FILE ${_qv_defaults_dir}/qvservice)
# One unit per prefix, so that installs to two prefixes at once do not race.
string(MD5 _qv_prefix_hash "${CMAKE_INSTALL_PREFIX}")
set(_qv_unit ${QV_PACKAGING_BINARY}/unit-${_qv_prefix_hash}/qvservice.service)
configure_file(${QV_PACKAGING_SOURCE}/qvservice.service.in ${_qv_unit} @ONLY)
file(INSTALL ${_qv_unit} DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
file(REMOVE_RECURSE ${QV_PACKAGING_BINARY}/unit-${_qv_prefix_hash})
# The defaults may name the store's database: root's, and the service's
# group may read them. The package's postinst gives that group; an install
# straight onto this system gives it when the group exists.
file(INSTALL ${QV_PACKAGING_SOURCE}/qvservice.default DESTINATION ${_qv_defaults_dir} RENAME qvservice
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)
if("$ENV{DESTDIR}" STREQUAL "")
  execute_process(COMMAND getent group qvservice RESULT_VARIABLE _qv_no_group OUTPUT_QUIET ERROR_QUIET)
  if(_qv_no_group EQUAL 0)
    execute_process(COMMAND chgrp qvservice ${_qv_defaults_dir}/qvservice)
  endif()
endif()
