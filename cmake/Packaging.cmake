# The Debian package: `cmake --build build --target package`, or
# `cpack --config build/CPackConfig.cmake -G DEB`. It is made from the install
# rules under /usr, whatever CMAKE_INSTALL_PREFIX says; the programs find
# their helper and README relative to themselves, so the prefix they were
# built for does not matter.

set(TARNVIK_DEB_MAINTAINER "Tarnvik team <tarnvik@example.org>" CACHE STRING
    "Maintainer field of the Debian package (Name <address>)")

# Every Debian package carries these two; a plain install gets them too,
# beside the README, where they do no harm.
set(deb_dir ${PROJECT_BINARY_DIR}/debian)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${deb_dir}/changelog @ONLY)
execute_process(COMMAND gzip -9n -c ${deb_dir}/changelog
                OUTPUT_FILE ${deb_dir}/changelog.gz RESULT_VARIABLE gzip_rc)
if(NOT gzip_rc EQUAL 0)
  message(FATAL_ERROR "gzip could not compress ${deb_dir}/changelog")
endif()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${deb_dir}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
# Everything but the "license" component (LICENSE, which copyright repeats).
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};tarnvik;Unspecified;/")
set(CPACK_PACKAGE_NAME tarnvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarnvik team")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "dictionary look-up strip for your own Access dictionaries")
# Paragraphs separated by blank lines; CPack turns them into the control
# file's form.
set(CPACK_PACKAGE_DESCRIPTION [=[
Tarnvik is a small strip window that stays on top of other windows. Each
keystroke looks the typed text up as a prefix in one of the user's own
dictionaries and shows the first match at once; a drop-down list holds all
matches. The user interface is in Czech.

The dictionaries are tables in Microsoft Access databases (.mdb), which are
only read, never written, by a helper process around mdbtools' library. A
catalogue editor chooses the database, table and fields of each source.

The package also holds tarnvik-mkdb, which makes such a database from TSV,
CSV or dictd word lists, and tarnvik-lookup, which looks a prefix up on the
command line.]=])

set(CPACK_DEBIAN_PACKAGE_NAME tarnvik)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TARNVIK_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# dpkg-shlibdeps finds the libraries the programs link (Qt, ICU, libmdb3 from
# the helper); the window links Qt's SVG library, whose package also holds the
# SVG plugin the editor's toolbar icons load.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own dialog texts in Czech; the window's default fonts, Tahoma and
# Arial, or fonts with the same metrics, so the strip's layout fits.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-liberation2 | fonts-liberation, fonts-wine")

# `package_source` would otherwise pack build folders and Git's files.
set(CPACK_SOURCE_GENERATOR TXZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\.git" "/build[^/]*/" "/node_modules/" "\\.user$")

include(CPack)
