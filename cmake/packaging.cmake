# What `cmake --install` puts where, and the packages CPack makes of it (scripts/package.sh):
# natively a Debian package of kavoconv, in the Windows build a zip of the program.

if(WIN32)
  # Everything side by side in one folder: Kavo.exe finds Kavo.hlp beside itself; Kavo.html
  # holds the same help for a browser.
  install(TARGETS Kavo kavoconv RUNTIME DESTINATION .)
  install(FILES ${KAVO_HELP_FILE} ${KAVO_HELP_HTML} DESTINATION .)

  # Plain texts for Windows users: code page 932 and CR LF, as Notepad on a Japanese
  # Windows reads them.
  find_program(KAVO_ICONV iconv REQUIRED)
  function(kavo_windows_text from name)
    set(to ${CMAKE_BINARY_DIR}/packaging/${name})
    add_custom_command(OUTPUT ${to}
      COMMAND ${CMAKE_COMMAND} -DICONV=${KAVO_ICONV} -DIN=${from} -DOUT=${to}
              -P ${PROJECT_SOURCE_DIR}/cmake/crlf_cp932.cmake
      DEPENDS ${from} ${PROJECT_SOURCE_DIR}/cmake/crlf_cp932.cmake
      COMMENT "Writing ${name} for Windows")
    add_custom_target(kavo_${name} ALL DEPENDS ${to})
    install(FILES ${to} DESTINATION .)
  endfunction()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/readme-windows.txt
                 ${CMAKE_BINARY_DIR}/packaging/readme-utf8.txt @ONLY)
  kavo_windows_text(${CMAKE_BINARY_DIR}/packaging/readme-utf8.txt readme.txt)
  kavo_windows_text(${PROJECT_SOURCE_DIR}/LICENSE LICENSE.txt)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME kavo-${PROJECT_VERSION}-win32)
else()
  include(GNUInstallDirs)
  install(TARGETS kavoconv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # A stripped install (CPack's, or cmake --install --strip) also drops the compiler's
  # .comment and .note sections, as Debian's own packaging does.
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:kavoconv>\"
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()")

  # kavo_install_gzipped(FILE TARGET DESTINATION): installs FILE gzipped, made by TARGET;
  # -n keeps the build reproducible.
  find_program(KAVO_GZIP gzip)
  function(kavo_install_gzipped file target destination)
    get_filename_component(name ${file} NAME)
    add_custom_command(OUTPUT ${file}.gz
      COMMAND ${KAVO_GZIP} -9nc ${file} > ${file}.gz
      DEPENDS ${file} COMMENT "Compressing ${name}")
    add_custom_target(${target} ALL DEPENDS ${file}.gz)
    install(FILES ${file}.gz DESTINATION ${destination})
  endfunction()

  # Manual pages are installed gzipped, as Debian does: the English one, and the Japanese
  # one where man looks under a Japanese locale.
  foreach(language "" ja)
    set(manpage ${CMAKE_BINARY_DIR}/cli/${language}/kavoconv.1)
    string(REGEX REPLACE "^/" "" mandir "${language}/man1")
    if(KAVO_GZIP)
      kavo_install_gzipped(${manpage} kavo_manpage${language} ${CMAKE_INSTALL_MANDIR}/${mandir})
    else()
      install(FILES ${manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/${mandir})
    endif()
  endforeach()

  # The user's guide (not the developers' README.md) goes in as README.
  set(docdir ${CMAKE_INSTALL_DATADIR}/doc/kavoconv)
  set(guide ${CMAKE_BINARY_DIR}/packaging/README)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/kavoconv-guide.txt ${guide} COPYONLY)
  option(KAVO_DEBIAN_DOCS "Install the licence as a Debian copyright file" OFF)
  if(KAVO_DEBIAN_DOCS)
    if(NOT KAVO_GZIP)
      message(FATAL_ERROR "The Debian layout needs gzip")
    endif()
    # Debian gzips the documents above 4 kB.
    file(SIZE ${guide} guide_size)
    if(guide_size GREATER 4096)
      kavo_install_gzipped(${guide} kavo_guide ${docdir})
    else()
      install(FILES ${guide} DESTINATION ${docdir})
    endif()
    # Debian keeps the licence in its own copyright format, made here from LICENSE.
    file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license_lines)
    list(REMOVE_AT license_lines 0 1 2 3)  # the title, the copyright line and their blank lines
    set(copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
                  "Upstream-Name: Kavo\n\nFiles: *\nCopyright: 2026 The Kavo developers\nLicense: Expat\n")
    foreach(line IN LISTS license_lines)
      if(line STREQUAL "")
        string(APPEND copyright " .\n")
      else()
        string(APPEND copyright " ${line}\n")
      endif()
    endforeach()
    file(WRITE ${CMAKE_BINARY_DIR}/packaging/copyright ${copyright})
    install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright DESTINATION ${docdir})
    # A native package's changelog, gzipped like the manual page.
    set(changelog ${CMAKE_BINARY_DIR}/packaging/changelog)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.Debian ${changelog} @ONLY)
    kavo_install_gzipped(${changelog} kavo_changelog ${docdir})
  else()
    install(FILES ${guide} ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${docdir})
  endif()

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME kavoconv)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # kavoconv_VERSION_ARCH.deb
  set(CPACK_DEBIAN_PACKAGE_SECTION text)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # depends on exactly what the binary links
  set(CPACK_STRIP_FILES ON)
endif()

set(CPACK_PACKAGE_VENDOR "The Kavo developers")
set(CPACK_PACKAGE_CONTACT "The Kavo developers <kavo@users.noreply.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert Japanese text between Shift_JIS and EUC-JP")
# Debian shows the description as it stands: lines of at most 80 characters.
set(CPACK_PACKAGE_DESCRIPTION [[kavoconv converts Japanese text files (JIS X 0208) between Shift_JIS
and EUC-JP and, on request, their line ends between CR LF and LF.
It converts single files, pipes, and whole folders in place; it
guesses each file's encoding first and leaves alone what is already
converted, and a file converted in place is never left cut short.
It writes exactly the bytes of the Kavo program for Windows.]])
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CHECKSUM SHA256)
include(CPack)
