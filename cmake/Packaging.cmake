# The Debian package, built by CPack ("cpack -G DEB" in the build folder).
# Its dependencies are found by dpkg-shlibdeps from the libraries the
# programs link; the Qt platform plugins are a separate package that the
# window needs at run time.

# The package carries the version the program reports: the project's own.
set(PIMO_PACKAGE_VERSION ${PROJECT_VERSION})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pimo)
set(CPACK_PACKAGE_VERSION ${PIMO_PACKAGE_VERSION})
set(CPACK_PACKAGE_VENDOR "The Pimo developers")
set(CPACK_PACKAGE_CONTACT "The Pimo developers <pimo@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "image optimizer for smaller JPEG, PNG and GIF files")
set(CPACK_PACKAGE_DESCRIPTION
    "Pimo opens a picture, re-encodes it as JPEG, PNG or GIF with the settings\n\
chosen or proposed from an analysis of the image, and shows the original and\n\
the result side by side with both file sizes. It includes a batch optimizer\n\
and pimo-cli, the same engine on the command line.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://pimo.example.org")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Downloads open libcurl at run time, where the scan of linked libraries cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4")
if(PIMO_BUILD_UI)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", qt6-qpa-plugins")
endif()
# The external PNG optimizers the presets name.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "optipng, advancecomp")

include(CPack)
