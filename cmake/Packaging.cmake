# The Debian package, made by `cpack -G DEB` in the build folder. It installs under the prefix the
# build was configured with, so that the desktop entry's paths name where the files really are
# (`bash dev.sh package` configures /usr).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fendrel)
set(CPACK_PACKAGE_VENDOR "Quorin Software")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "catalogue of the files on CD and DVD discs")
set(CPACK_PACKAGE_DESCRIPTION
    "Fendrel keeps a catalogue of what is stored on CD and DVD discs, so that you can find\n\
which disc holds a file without inserting every disc. It reads each disc's whole folder tree\n\
into a collection, lets you browse it, remove discs and filter the view by name.\n\
fendrel-find searches the collections from a terminal; fendrel-mount shows them as a\n\
read-only folder to every program.\n\
The interface is Russian.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Fendrel developers <fendrel@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links (Qt 6 Widgets, libiso9660, libcdio, ICU's libicuuc, ...) become
# its dependencies through dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own texts in the file and print dialogs come from its Russian catalogue; printing needs Qt's
# print support (also found by dpkg-shlibdeps); fendrel-mount needs fusermount3 (fuse3), which
# no library names. The generated library dependencies are added.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n, libqt6printsupport6, libxxhash0, fuse3")
# The help file needs a CHM viewer and a launcher that hands it the file.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xchm | kchmviewer, xdg-utils | libglib2.0-bin")

include(CPack)
