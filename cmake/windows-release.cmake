# The Windows release: quorvel_tokenexp-1.4-win64.zip (see install.cmake).
# Texts are made with CR LF line ends for Notepad; the manual page is
# rendered by groff as plain text.
find_program(GROFF_PROGRAM groff REQUIRED)
set(QTE_WIN_TEXTS ${CMAKE_BINARY_DIR}/README.txt ${CMAKE_BINARY_DIR}/quorvel_tokenexp.txt
    ${CMAKE_BINARY_DIR}/copyright.txt ${CMAKE_BINARY_DIR}/licences.txt)
set(QTE_WIN_TEXT ${CMAKE_COMMAND} -P ${CMAKE_SOURCE_DIR}/cmake/windows-text.cmake)
add_custom_command(OUTPUT ${QTE_WIN_TEXTS}
  COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_SOURCE_DIR}/README.md -DOUT=${CMAKE_BINARY_DIR}/README.txt
          -P ${CMAKE_SOURCE_DIR}/cmake/windows-text.cmake
  COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_SOURCE_DIR}/doc/quorvel_tokenexp.1 -DOUT=${CMAKE_BINARY_DIR}/quorvel_tokenexp.txt
          -DMAN=${GROFF_PROGRAM} -P ${CMAKE_SOURCE_DIR}/cmake/windows-text.cmake
  COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_SOURCE_DIR}/doc/copyright -DOUT=${CMAKE_BINARY_DIR}/copyright.txt
          -P ${CMAKE_SOURCE_DIR}/cmake/windows-text.cmake
  COMMAND ${CMAKE_COMMAND} -DIN=${CMAKE_SOURCE_DIR}/doc/licences-windows.txt -DOUT=${CMAKE_BINARY_DIR}/licences.txt
          -P ${CMAKE_SOURCE_DIR}/cmake/windows-text.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/doc/quorvel_tokenexp.1 ${CMAKE_SOURCE_DIR}/doc/copyright
          ${CMAKE_SOURCE_DIR}/doc/licences-windows.txt ${CMAKE_SOURCE_DIR}/cmake/windows-text.cmake
  VERBATIM)
add_custom_target(windows_texts ALL DEPENDS ${QTE_WIN_TEXTS})

install(TARGETS quorvel_tokenexp RUNTIME DESTINATION .)
install(FILES ${QTE_WIN_TEXTS} DESTINATION .)

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
while(QTE_WIN_LICENCES)
  list(POP_FRONT QTE_WIN_LICENCES from to)
  if(NOT EXISTS ${from})
    message(FATAL_ERROR "licence text ${from} is missing (scripts/deps.sh windows installs its package)")
  endif()
  install(FILES ${from} DESTINATION licences RENAME ${to})
endwhile()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME quorvel_tokenexp)
set(CPACK_PACKAGE_VENDOR "Quorvel Token Export Utility developers")
set(CPACK_PACKAGE_FILE_NAME quorvel_tokenexp-${PROJECT_VERSION}-win64)
set(CPACK_STRIP_FILES ON)
include(CPack)
