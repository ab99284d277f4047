# Install rules, manual pages and the Debian package (cpack -G DEB in the build folder).
#
# Programs users start go to bin; the helpers the programs start themselves go to
# IMPORTDLG_HELPER_INSTALL_DIR (see program_info.cmake), where the programs look for them
# relative to their own folder when they are not beside them.
install(TARGETS picconv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(helper picconv-metafiles importdlg-clipboard)
  if(TARGET ${helper})
    install(TARGETS ${helper} RUNTIME DESTINATION ${IMPORTDLG_HELPER_INSTALL_DIR})
  endif()
endforeach()
set(manual_pages picconv)
if(TARGET importdlg)
  install(TARGETS importdlg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  list(APPEND manual_pages importdlg)
endif()
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages are written in Markdown (doc/<name>.1.md, with the version filled in here)
# and turned into compressed roff.
find_program(GO_MD2MAN_PROGRAM go-md2man)
if(GO_MD2MAN_PROGRAM)
  set(manual_files)
  foreach(page ${manual_pages})
    set(source ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1.md)
    configure_file(${CMAKE_CURRENT_SOURCE_DIR}/doc/${page}.1.md ${source} @ONLY)
    set(roff ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1)
    add_custom_command(OUTPUT ${roff}.gz
      COMMAND ${GO_MD2MAN_PROGRAM} -in ${source} -out ${roff}
      # The page's own .nh comes before .TH, which turns hyphenation on again: without it
      # names such as IMPORTDLG_SYSTEM_DIR break across lines.
      COMMAND sed -i "/^\\.TH /a .nh" ${roff}
      COMMAND gzip -9 -n -f ${roff}
      DEPENDS ${source}
      COMMENT "Writing the manual page ${page}(1)"
      VERBATIM)
    list(APPEND manual_files ${roff}.gz)
  endforeach()
  add_custom_target(manual_pages ALL DEPENDS ${manual_files})
  install(FILES ${manual_files} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "go-md2man was not found: the manual pages are not built (scripts/install-deps.sh installs it)")
endif()

# The Debian package. Its dependencies on the libraries the programs link are computed by
# dpkg-shlibdeps; a library loaded with dlopen is invisible to it and is named here.
#
# Add a row per library the code loads with dlopen: the file name it opens, the Debian
# package that ships it, and Depends (the programs cannot work without it) or Recommends
# (a format or feature fails with a clear message without it). The package test checks
# that every library the sources open is listed here under its real package.
set(IMPORTDLG_DLOPENED_LIBRARIES
  "libheif.so.1 libheif1 Recommends"
  "libjxl.so.0.7 libjxl0.7 Recommends"
  "libjxl_threads.so.0.7 libjxl0.7 Recommends"
  "liblcms2.so.2 liblcms2-2 Recommends"
  "libopenjp2.so.7 libopenjp2-7 Recommends"
  "librsvg-2.so.2 librsvg2-2 Recommends"
  "libcairo.so.2 libcairo2 Recommends"
  "libglib-2.0.so.0 libglib2.0-0 Recommends"
  "libgobject-2.0.so.0 libglib2.0-0 Recommends"
  "libgio-2.0.so.0 libglib2.0-0 Recommends"
  "libraw_r.so.20 libraw20 Recommends"
  "libraw.so.20 libraw20 Recommends"
  "libOpenEXRCore-3_1.so.30 libopenexr-3-1-30 Recommends"
)
set(dlopen_depends)
set(dlopen_recommends)
foreach(row ${IMPORTDLG_DLOPENED_LIBRARIES})
  string(REPLACE " " ";" fields "${row}")
  list(GET fields 1 package)
  list(GET fields 2 relation)
  if(relation STREQUAL "Depends")
    list(APPEND dlopen_depends ${package})
  elseif(relation STREQUAL "Recommends")
    list(APPEND dlopen_recommends ${package})
  else()
    message(FATAL_ERROR "IMPORTDLG_DLOPENED_LIBRARIES: '${row}' is neither Depends nor Recommends")
  endif()
endforeach()
list(REMOVE_DUPLICATES dlopen_depends)
list(REMOVE_DUPLICATES dlopen_recommends)
list(JOIN dlopen_depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
list(JOIN dlopen_recommends ", " CPACK_DEBIAN_PACKAGE_RECOMMENDS)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME importdlg)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "importdlg maintainers <importdlg@localhost>" CACHE STRING
    "The maintainer named in the Debian package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "file import dialog for drawing programs, and a picture converter")
set(CPACK_PACKAGE_DESCRIPTION
"A stand-alone \"Select File to Import\" dialog (importdlg) that a host drawing
program starts: it browses drives and folders in the Windows path model of its
hosts, converts pictures the host cannot read into 24-bit Windows bitmaps, and
hands the chosen file over through the clipboard and the host's settings file.
.
picconv converts pictures (PNG, WebP, HEIF, AVIF, TIFF, GIF, PCX, Photoshop,
Targa, SGI, Photo-CD, Netpbm, metafiles and more) into Windows bitmaps or PNG
files from the command line.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wl-clipboard, xdg-utils")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)
include(CPack)
