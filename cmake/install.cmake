# What `cmake --install` puts on a machine, and the Debian package built from
# the same rules with `cpack -G DEB`: the program, its manual page, the README
# and the licence notes. Tests, benchmarks and fuzz targets have no install
# rules, so they never leave the build folder.

# Windows: the release is a zip a merchant unpacks anywhere, made with
# `cmake --build build-windows --target package` (or `cpack -G ZIP` in the
# build folder): quorvel_tokenexp-1.4-win64.zip, holding the one .exe (every
# library linked in), the merchant's README.txt, the manual page as text,
# the sample its first run uses, and the licence notes of what the .exe
# holds.
if(WIN32)
  include(cmake/windows-release.cmake)
  return()
endif()

# The documents go under the package's name, not the CMake project's.
set(CMAKE_INSTALL_DOCDIR "share/doc/quorvel-tokenexp" CACHE PATH "Documentation root (DATAROOTDIR/doc/quorvel-tokenexp)")
include(GNUInstallDirs)

option(INSTALL_MKEXPORT "Also install mkexport, the tool that writes export files for tests and samples" OFF)

install(TARGETS quorvel_tokenexp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(INSTALL_MKEXPORT)
  install(TARGETS mkexport RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Manual pages are installed gzip-compressed, as Debian does; -n keeps the
# name and time stamp out of the archive so repeated builds give equal bytes.
set(QTE_MANPAGE ${CMAKE_SOURCE_DIR}/doc/quorvel_tokenexp.1)
find_program(GZIP_PROGRAM gzip)
if(GZIP_PROGRAM)
  set(QTE_MANPAGE_GZ ${CMAKE_BINARY_DIR}/quorvel_tokenexp.1.gz)
  add_custom_command(OUTPUT ${QTE_MANPAGE_GZ}
                     COMMAND ${GZIP_PROGRAM} -9 -n -c ${QTE_MANPAGE} > ${QTE_MANPAGE_GZ}
                     DEPENDS ${QTE_MANPAGE} VERBATIM)
  add_custom_target(manpage ALL DEPENDS ${QTE_MANPAGE_GZ})
  # A build of the program alone (the demo's) must leave the build folder
  # ready to install: the page comes with the program.
  add_dependencies(quorvel_tokenexp manpage)
  install(FILES ${QTE_MANPAGE_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  install(FILES ${QTE_MANPAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/doc/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package: `cpack -G DEB` in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel-tokenexp)
set(CPACK_PACKAGE_VENDOR "Quorvel Token Export Utility developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "export stored-card tokens as an OpenPGP-encrypted CSV table")
# The long description, in lines of Debian's usual width.
set(CPACK_PACKAGE_DESCRIPTION
    "quorvel_tokenexp takes the stored-card (token) data of recurring billing\n"
    "out of a Quorvel export file and writes it as a CSV table encrypted to the\n"
    "OpenPGP public key of the recipient, typically the merchant's new payment\n"
    "processor. The export key is typed at a prompt, never given as an argument.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(QTE_PACKAGE_MAINTAINER "Token export maintainers <tokenexp@example.invalid>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QTE_PACKAGE_MAINTAINER}")
# Depends comes from the libraries the binary really links; without
# dpkg-shlibdeps (dpkg-dev) it falls back to the known set.
find_program(DPKG_SHLIBDEPS_PROGRAM dpkg-shlibdeps)
if(DPKG_SHLIBDEPS_PROGRAM)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6, libssl3, zlib1g, libdeflate0")
endif()
include(CPack)
