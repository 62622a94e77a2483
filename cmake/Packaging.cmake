# Install rules for the program and its desktop integration, and the CPack
# settings that make the Debian package:
#
#   cmake --install build                  # bin/tessaly, desktop entry, icons, man page
#   cd build && cpack -G DEB               # tessaly_<version>_amd64.deb
#
# The ClearCase simulator is never installed: its cleartool and fix_prot
# stand-ins would shadow a real installation's programs.
include(GNUInstallDirs)

set(TESSALY_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
add_subdirectory(${TESSALY_PACKAGING_DIR} ${CMAKE_BINARY_DIR}/packaging)

if(WIN32)
    return()
endif()

# ---- Install rules ---------------------------------------------------------
# The executable's own rule lives in src/CMakeLists.txt; everything here is in
# the same (default) component, so a plain install or the package gets it all.
install(FILES ${TESSALY_PACKAGING_DIR}/tessaly.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size ${TESSALY_ICON_SIZES})
    install(FILES ${TESSALY_ICON_DIR}/${size}x${size}/apps/tessaly.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${TESSALY_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TESSALY_PACKAGING_DIR}/tessaly-tmpfiles.conf
        DESTINATION lib/tmpfiles.d RENAME tessaly.conf)

# ---- Debian package ----------------------------------------------------------
set(CPACK_PACKAGE_NAME tessaly)
set(CPACK_PACKAGE_VENDOR "Orvane")
set(CPACK_PACKAGE_CONTACT "Orvane <support@orvane.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repairs the storage protections of ClearCase views")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.orvane.example/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # tessaly_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Orvane <support@orvane.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.orvane.example/")
# The summary above is the synopsis line; this is the long description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tessaly is a desktop tool for ClearCase administrators. It lists the
ClearCase views of the region in a check-box list, lets the operator pick
views by hand, all at once or by pattern, shows a detail report for a view,
and for every checked view runs ClearCase's fix_prot utility on the view's
storage, then stops the view's server.
.
ClearCase itself is not part of this package: the installation is found
through CLEARCASEHOME, ATRIAHOME or /opt/rational/clearcase.")
# The Qt runtime packages come from the libraries the program links.
find_program(TESSALY_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TESSALY_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4), libstdc++6, libc6")
endif()
include(CPack)

# ---- Tests -------------------------------------------------------------------
if((BUILD_TESTING OR TESSALY_BUILD_TESTS) AND TARGET ccsim)
    # The installed files themselves: desktop entry, man page, icons.
    add_test(NAME packaging.files
             COMMAND sh ${CMAKE_SOURCE_DIR}/tests/packaging/check_files.sh
                     ${TESSALY_PACKAGING_DIR}/tessaly.desktop ${TESSALY_MAN_SOURCE}
                     ${TESSALY_ICON_DIR} ${TESSALY_ICON_SIZES})
    set_tests_properties(packaging.files PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)

    # Builds the package, installs it with dpkg, starts the installed program
    # on a simulated ClearCase, stops it with SIGTERM and removes the package.
    add_test(NAME packaging.deb_install
             COMMAND sh ${CMAKE_SOURCE_DIR}/tests/packaging/deb_install_test.sh
                     ${CMAKE_BINARY_DIR} $<TARGET_FILE:ccsim> ${PROJECT_VERSION})
    set_tests_properties(packaging.deb_install PROPERTIES
        SKIP_RETURN_CODE 77 TIMEOUT 300 RESOURCE_LOCK dpkg)
endif()

# The keyboard, naming and caption-fit tests once more at scale factor 2, as
# on a high-DPI screen: the fixed layout must still hold its captions.
if((BUILD_TESTING OR TESSALY_BUILD_TESTS) AND TARGET test_app)
    add_test(NAME accessibility.scale2
             COMMAND test_app --gtest_filter=Accessibility.*)
    set_tests_properties(accessibility.scale2 PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_SCALE_FACTOR=2" TIMEOUT 300)
endif()
