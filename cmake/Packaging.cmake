# Installation and packages.
#
#   cmake --install <build>        Linux: the tool in bin/, its manual page, the udev rule for
#                                  the controller's HID node and the graphics cards' OEM I2C
#                                  buses, the modules-load.d file that loads i2c-dev, README,
#                                  copyright and changelog
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
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${BRUMEL_PACKAGE_NAME})
  set(packaging_out ${CMAKE_BINARY_DIR}/packaging)
  install(FILES README.md DESTINATION ${doc_dir})

  # The licence in the form Debian keeps it: the text of LICENSE.txt under one header.
  file(READ ${CMAKE_SOURCE_DIR}/LICENSE.txt licence)
  string(REGEX REPLACE "\n$" "" licence "${licence}")
  string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
  string(REGEX REPLACE "\n" "\n " licence "${licence}")
  file(CONFIGURE OUTPUT ${packaging_out}/copyright CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: BrumelISP
Upstream-Contact: Brumel production tools <tools@brumel.invalid>

Files: *
Copyright: 2021-2026 Brumel
License: Brumel
 ${licence}
")
  install(FILES ${packaging_out}/copyright DESTINATION ${doc_dir})

  # The manual page and the changelog carry the product's version; both go compressed, as
  # Debian keeps them (-n: no name or time in the header, so a rebuild gives the same bytes).
  configure_file(packaging/linux/BrumelISP.1.in ${packaging_out}/BrumelISP.1 @ONLY)
  configure_file(packaging/linux/changelog.in ${packaging_out}/changelog @ONLY)
  find_program(BRUMEL_GZIP gzip REQUIRED)
  foreach(page BrumelISP.1 changelog)
    add_custom_command(OUTPUT ${packaging_out}/${page}.gz
      COMMAND ${BRUMEL_GZIP} -9 -n -f -k ${packaging_out}/${page}
      DEPENDS ${packaging_out}/${page}
      COMMENT "Compressing ${page}")
    list(APPEND compressed ${packaging_out}/${page}.gz)
  endforeach()
  add_custom_target(brumel_packaging_pages ALL DEPENDS ${compressed})
  install(FILES ${packaging_out}/BrumelISP.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${packaging_out}/changelog.gz DESTINATION ${doc_dir})

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
  # brumelisp-<version>-win64.zip and brumelisp-<version>-win32.zip
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Brumel production tools <tools@brumel.invalid>")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The udev rule applied to the controllers already plugged in when the package comes and goes.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${CMAKE_SOURCE_DIR}/packaging/linux/postinst ${CMAKE_SOURCE_DIR}/packaging/linux/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The extended description in lines of at most 80 characters, as Debian asks.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Tests and drives the RGB LED controller of Brumel devices\n\
Colour and button tests for the production line, lighting modes and the chip\n\
information display, over USB HID, a serial line or a graphics adapter's I2C\n\
line. Any user at the seat may run it; the udev rule hands the controller to\n\
that user.")
  # The tool links only the C and C++ run-time libraries; everything else is loaded when a job
  # needs it, so those libraries are recommendations, not dependencies.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libhidapi-hidraw0, libssl3")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libpulse0, libmpg123-0")
endif()

include(CPack)
