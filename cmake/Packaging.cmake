# Install rules for the program and its desktop integration, and the CPack
# settings that make the Debian package:
#
#   cmake --install build                  # bin/tessaly, lib/tessaly, desktop entry, icons, ...
#   cd build && cpack -G DEB               # tessaly_<version>_amd64.deb, tessaly-gui_<version>_amd64.deb
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
# Two components, one Debian package each:
#   tessaly  the command, the repair unit and what lives in lib/tessaly
#            beside it, the man page, completion, the nightly service and
#            timer (installed disabled), their settings and the examples;
#            it needs Qt Core alone. The default component (see the top
#            CMakeLists.txt), so a rule that names none lands here.
#   gui      the window program, its desktop entry and icons.
# The executables' rules live in src/CMakeLists.txt.
set(TESSALY_GUI_COMPONENT gui)
install(FILES ${TESSALY_PACKAGING_DIR}/tessaly.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT ${TESSALY_GUI_COMPONENT})
foreach(size ${TESSALY_ICON_SIZES})
    install(FILES ${TESSALY_ICON_DIR}/${size}x${size}/apps/tessaly.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            COMPONENT ${TESSALY_GUI_COMPONENT})
endforeach()
install(FILES ${TESSALY_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TESSALY_PACKAGING_DIR}/tessaly-tmpfiles.conf
        DESTINATION lib/tmpfiles.d RENAME tessaly.conf)

# Scripts the repair and the check start, installed beside the repair unit
# in lib/tessaly (executable, in the command's package). Add to the list.
set(TESSALY_LIB_SCRIPTS)
if(TESSALY_LIB_SCRIPTS)
    install(PROGRAMS ${TESSALY_LIB_SCRIPTS} DESTINATION lib/tessaly)
endif()

install(FILES ${TESSALY_PACKAGING_DIR}/tessaly.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tessaly)
# The nightly run. The units name /usr/bin/tessaly and /etc/tessaly, where
# the package puts them. No maintainer script enables them.
install(FILES ${TESSALY_PACKAGING_DIR}/tessaly-nightly.service
              ${TESSALY_PACKAGING_DIR}/tessaly-nightly.timer
        DESTINATION lib/systemd/system)
install(FILES ${TESSALY_PACKAGING_DIR}/nightly.conf DESTINATION /etc/tessaly)
install(FILES ${TESSALY_PACKAGING_DIR}/sudoers.example
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tessaly/examples RENAME sudoers)

# Each package's copyright file and changelogs, compressed as Debian keeps
# them, with no time stamp in the gzip header.
set(doc_build ${CMAKE_BINARY_DIR}/packaging/doc)
set(TESSALY_DEB_VERSION ${PROJECT_VERSION}-1) # CPACK_DEBIAN_PACKAGE_RELEASE below
configure_file(${TESSALY_PACKAGING_DIR}/changelog.Debian.in ${doc_build}/changelog.Debian @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/CHANGELOG.md ${doc_build}/changelog COPYONLY)
set(doc_files)
foreach(name changelog changelog.Debian)
    if(TESSALY_GZIP)
        add_custom_command(
            OUTPUT ${doc_build}/${name}.gz
            COMMAND ${TESSALY_GZIP} -9 -n -c ${doc_build}/${name} > ${doc_build}/${name}.gz
            DEPENDS ${doc_build}/${name}
            COMMENT "Compressing ${name}")
        list(APPEND doc_files ${doc_build}/${name}.gz)
    else()
        list(APPEND doc_files ${doc_build}/${name})
    endif()
endforeach()
add_custom_target(tessaly_docs ALL DEPENDS ${doc_files})
install(FILES ${TESSALY_PACKAGING_DIR}/copyright ${doc_files}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tessaly)
install(FILES ${TESSALY_PACKAGING_DIR}/copyright ${doc_files}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tessaly-gui COMPONENT ${TESSALY_GUI_COMPONENT})
install(FILES ${TESSALY_PACKAGING_DIR}/tessaly.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tessaly)
install(FILES ${TESSALY_PACKAGING_DIR}/tessaly-gui.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tessaly-gui
        COMPONENT ${TESSALY_GUI_COMPONENT})

# ---- Debian packages ---------------------------------------------------------
set(CPACK_PACKAGE_NAME tessaly)
set(CPACK_PACKAGE_VENDOR "Orvane")
set(CPACK_PACKAGE_CONTACT "Orvane <support@orvane.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Packaging revision 1 of the upstream version: the packages carry Debian's
# changelog.Debian.gz beside the upstream changelog.gz.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repairs the storage protections of ClearCase views")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.orvane.example/")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tessaly ${TESSALY_GUI_COMPONENT})
set(CPACK_COMPONENT_GUI_DEPENDS tessaly)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON) # tessaly-gui: Depends tessaly (= version)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # tessaly_<version>-1_<arch>.deb, tessaly-gui_...
set(CPACK_DEBIAN_PACKAGE_SOURCE tessaly)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Orvane <support@orvane.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.orvane.example/")
set(CPACK_DEBIAN_TESSALY_PACKAGE_NAME tessaly)
set(CPACK_DEBIAN_GUI_PACKAGE_NAME tessaly-gui)
set(CPACK_DEBIAN_GUI_PACKAGE_RECOMMENDS xterm)
set(CPACK_DEBIAN_GUI_PACKAGE_SECTION x11)
# The settings of the nightly run are the administrator's: an upgrade asks
# before it replaces them.
file(WRITE ${CMAKE_BINARY_DIR}/packaging/control/conffiles "/etc/tessaly/nightly.conf\n")
# The shared lock directories are made at installation too, not only at boot.
configure_file(${TESSALY_PACKAGING_DIR}/postinst ${CMAKE_BINARY_DIR}/packaging/control/postinst
               COPYONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
               GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_TESSALY_PACKAGE_CONTROL_EXTRA
    ${CMAKE_BINARY_DIR}/packaging/control/conffiles ${CMAKE_BINARY_DIR}/packaging/control/postinst)
# The summary above is both packages' synopsis line; these are their long
# descriptions.
set(common_description
    "Tessaly is a tool for ClearCase administrators. It lists the ClearCase
views of the region and repairs the protections of their storage: for every
picked view it runs ClearCase's fix_prot utility on the view's storage, on
the storage host as root (through ssh and sudo), then stops the view's
server.
.
ClearCase itself is not part of this package: the installation is found
through CLEARCASEHOME, ATRIAHOME or /opt/rational/clearcase.")
set(CPACK_DEBIAN_TESSALY_DESCRIPTION
    "${common_description}
.
This package holds the command tessaly (--list, --repair, --check), which
needs no display, the repair unit, a nightly service and timer (installed
disabled) and bash completion. The window is in tessaly-gui.")
set(CPACK_DEBIAN_GUI_DESCRIPTION
    "${common_description}
.
This package holds the window: the views in a check-box list, picks by
hand, all at once or by pattern, a view's detail report, and Execute.")
# The Qt runtime packages come from the libraries each program links.
find_program(TESSALY_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TESSALY_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    set(CPACK_DEBIAN_TESSALY_PACKAGE_DEPENDS "libqt6core6 (>= 6.4), libstdc++6, libc6")
    set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS
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

    # Every tracked C++ source starts with the licence's SPDX line
    # (scripts/spdx.sh adds it where it is missing).
    add_test(NAME packaging.spdx COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/spdx.sh --check)
    set_tests_properties(packaging.spdx PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)

    # The nightly units (systemd-analyze verify), the service's ExecStart run
    # on a simulated ClearCase, and the bash completion, from the source tree.
    add_test(NAME packaging.server_files
             COMMAND bash ${CMAKE_SOURCE_DIR}/tests/packaging/server_files_test.sh
                     ${TESSALY_PACKAGING_DIR} $<TARGET_FILE:tessaly> $<TARGET_FILE:ccsim>)
    set_tests_properties(packaging.server_files PROPERTIES TIMEOUT 120)

    # Builds both packages, installs tessaly alone and lists views with no GUI
    # library, then tessaly-gui, starts the window on a simulated ClearCase,
    # stops it with SIGTERM and purges both.
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
