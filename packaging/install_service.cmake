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
configure_file(${QV_PACKAGING_SOURCE}/qvservice.service.in ${QV_PACKAGING_BINARY}/qvservice.service @ONLY)
file(INSTALL ${QV_PACKAGING_BINARY}/qvservice.service DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
file(INSTALL ${QV_PACKAGING_SOURCE}/qvservice.default DESTINATION ${_qv_defaults_dir} RENAME qvservice)
