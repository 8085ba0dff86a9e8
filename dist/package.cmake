# The Debian package: `cpack -G DEB` in a build folder (scripts/package makes
# one with Debian's hardening flags) writes vantrel_<version>_<arch>.deb. Its
# Depends come from dpkg-shlibdeps, plus the toolkit's plug-ins no library
# names. The icon cache and the desktop database are brought up to date by the
# triggers of hicolor-icon-theme and desktop-file-utils: the package needs no
# maintainer scripts.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vantrel maintainers <maintainers@users.noreply.c-seed-0e324b06.example>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "two-panel file manager with its own ZIP engine")
set(CPACK_PACKAGE_DESCRIPTION "Vantrel shows two folders side by side: move a cursor with the keyboard or
the mouse, mark files, and copy, move, delete, view, edit, rename, find and
measure them with the function keys.
.
ZIP archives are read, written, packed and unpacked by the program's own
engine: stored, shrunk, reduced, imploded, deflated, Deflate64, bzip2,
LZMA, XZ and Zstandard entries, traditional and AES encryption, ZIP64, and
archives split over several volumes. The package also holds vnview, a
viewer for text, hex and images, and vantrel-zip, the same engine on the
command line.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The toolkit's window-system and SVG plug-ins are loaded at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
# 7-Zip decrypts the encrypted 7z and RAR archives that libarchive cannot.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, hicolor-icon-theme, 7zip")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
