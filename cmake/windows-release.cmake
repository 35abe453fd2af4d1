# The Windows release: quorvel_tokenexp-1.4-win64.zip (see install.cmake),
# with its SHA-256 beside it (quorvel_tokenexp-1.4-win64.zip.sha256, as
# sha256sum writes it). Every text is made with CR LF line ends for Notepad:
# the merchant's README (doc/README-windows.txt, not this project's
# README.md), the manual page rendered by groff as plain text in its Windows
# form, the licence notes and the licence texts.
find_program(GROFF_PROGRAM groff REQUIRED)

# The licences of the libraries linked into the .exe, as Debian ships them
# with the packages they were built from (OpenSSL's and libdeflate's
# sources are Debian's too; their host packages carry the same terms).
set(QTE_WIN_LICENCES
    /usr/share/doc/libssl3/copyright openssl.txt
    /usr/share/common-licenses/Apache-2.0 Apache-2.0.txt
    /usr/share/doc/libz-mingw-w64/copyright zlib.txt
    /usr/share/doc/libdeflate0/copyright libdeflate.txt
    /usr/share/doc/mingw-w64-common/copyright mingw-w64.txt
    /usr/share/doc/gcc-mingw-w64-base/copyright gcc-runtime.txt)

# Each text: its source, its name in the zip, and groff for the manual page
# (NO for the others).
set(QTE_WIN_TEXT_LIST
    ${CMAKE_SOURCE_DIR}/doc/README-windows.txt README.txt NO
    ${CMAKE_SOURCE_DIR}/doc/quorvel_tokenexp.1 quorvel_tokenexp.txt ${GROFF_PROGRAM}
    ${CMAKE_SOURCE_DIR}/doc/copyright copyright.txt NO
    ${CMAKE_SOURCE_DIR}/doc/licences-windows.txt licences.txt NO)
while(QTE_WIN_LICENCES)
  list(POP_FRONT QTE_WIN_LICENCES from to)
  if(NOT EXISTS ${from})
    message(FATAL_ERROR "licence text ${from} is missing (scripts/deps.sh windows installs its package)")
  endif()
  list(APPEND QTE_WIN_TEXT_LIST ${from} licences/${to} NO)
endwhile()

set(QTE_WIN_TEXTS "")
while(QTE_WIN_TEXT_LIST)
  list(POP_FRONT QTE_WIN_TEXT_LIST from to man)
  set(out ${CMAKE_BINARY_DIR}/release/${to})
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DIN=${from} -DOUT=${out} -DMAN=${man} -P ${CMAKE_SOURCE_DIR}/cmake/windows-text.cmake
    DEPENDS ${from} ${CMAKE_SOURCE_DIR}/cmake/windows-text.cmake VERBATIM)
  list(APPEND QTE_WIN_TEXTS ${out})
  get_filename_component(dir ${to} DIRECTORY)
  install(FILES ${out} DESTINATION ./${dir})
endwhile()
add_custom_target(windows_texts ALL DEPENDS ${QTE_WIN_TEXTS})

install(TARGETS quorvel_tokenexp RUNTIME DESTINATION .)

# The sample of README.txt's first run, as the sources have them (the
# export file's bytes must stay as they are; the key files read either line
# end). The demo's secret key stays out: the merchant is never its holder.
install(FILES ${CMAKE_SOURCE_DIR}/examples/sample.exp ${CMAKE_SOURCE_DIR}/examples/sample_export_key.txt
              ${CMAKE_SOURCE_DIR}/examples/demo_public_key.asc DESTINATION sample)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME quorvel_tokenexp)
set(CPACK_PACKAGE_VENDOR "Quorvel Token Export Utility developers")
set(CPACK_PACKAGE_FILE_NAME quorvel_tokenexp-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
include(CPack)
