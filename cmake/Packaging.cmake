# Installation and packages.
#
#   cmake --install <build>        Linux: the tool in bin/, the udev rule for the controller's
#                                  HID node and the graphics cards' OEM I2C buses, the
#                                  modules-load.d file that loads i2c-dev, README and licence
#                                  under share/doc/brumelisp/.
#                                  Windows: the tool, README and licence in one folder.
#   cpack --config <build>/CPackConfig.cmake
#                                  Linux: a Debian package (installs under /usr).
#                                  Windows: a zip of the same three files.
include(GNUInstallDirs)

set(BRUMEL_PACKAGE_NAME brumelisp)

if(WIN32)
  install(TARGETS BrumelISP RUNTIME DESTINATION .)
  install(FILES README.md LICENSE.txt DESTINATION .)
else()
  install(TARGETS BrumelISP RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES README.md LICENSE.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${BRUMEL_PACKAGE_NAME})
  # udev reads <prefix>/lib/udev/rules.d only for the prefix /usr (the package's); for another
  # prefix the README says where to copy the rule.
  set(BRUMEL_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
      "Folder of the udev rule, relative to the installation prefix")
  install(FILES packaging/linux/70-brumelisp.rules DESTINATION ${BRUMEL_UDEV_RULES_DIR})
  # systemd-modules-load reads <prefix>/lib/modules-load.d likewise only for /usr.
  set(BRUMEL_MODULES_LOAD_DIR "lib/modules-load.d" CACHE STRING
      "Folder of the modules-load.d file that loads i2c-dev, relative to the installation prefix")
  install(FILES packaging/linux/modules-load.conf DESTINATION ${BRUMEL_MODULES_LOAD_DIR}
          RENAME brumelisp.conf)
endif()

set(CPACK_PACKAGE_NAME ${BRUMEL_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Brumel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Production-line and bench tool for the Brumel RGB LED controller")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE.txt)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
# Packages carry the tool without its debugging information.
set(CPACK_STRIP_FILES ON)
# The build's own tests and the simulator have no install rules: no package carries them.

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brumel production tools <tools@brumel.invalid>")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Tests and drives the RGB LED controller of Brumel devices\n\
Colour and button tests for the production line, lighting modes and the chip information\n\
display, over USB HID, a serial line or a graphics adapter's I2C line.")
  # The tool links only the C and C++ run-time libraries; everything else is loaded when a job
  # needs it, so those libraries are recommendations, not dependencies.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libhidapi-hidraw0, libssl3")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libpulse0, libmpg123-0")
endif()

include(CPack)
