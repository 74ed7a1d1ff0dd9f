# Read by CPack for each generator: the Debian package installs under /opt/csyslist; the archive
# keeps the tree at its top.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX /opt/csyslist)
endif()
