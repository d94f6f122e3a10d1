# The Debian package: `cpack -G DEB` in a build folder (scripts/package.sh does it all).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${KIV_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kiv Pfx Utility developers")
set(CPACK_PACKAGE_CONTACT "Kiv Pfx Utility developers <kivpfx@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "put a password on password-less PKCS#12 certificate files")
# Wrapped by hand: dpkg shows the lines as they are.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Kiv Pfx Utility writes password-protected copies of PKCS#12 certificate\n"
  "files (.pfx) that have no password. You list the files, one at a time or\n"
  "by searching a folder tree, type a password twice and proceed; every\n"
  "listed file gets a protected copy beside it, named after the source with\n"
  "the suffix _Password.Pfx.\n"
  "\n"
  "Source files are never changed and existing files are never overwritten.\n"
  "Each copy is read back with the password and compared with its source\n"
  "before it gets its name, and keeps every key and certificate of the\n"
  "chain.\n"
  "\n"
  "The package holds the window program kivpfxutil and the command-line\n"
  "program kivpfx, which does the same job for many files at once, on\n"
  "servers without a display and in scripts."
)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/kivpfx/kivpfxutil)
# Libraries come from the binaries; what the program loads by name at run time is added here:
# the Qt platform plugins and the fonts that stand in for the window fonts (docs/FONTS.md).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "qt6-qpa-plugins, fontconfig, fonts-liberation2, fonts-urw-base35, fonts-dejavu-core, fonts-dejavu-extra")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)

include(CPack)
