# Installation (cmake --install build --prefix P) and the Debian package (cpack -G DEB in the build folder).
# The build folder's own layout (executables in bin/, bundled data beside it) is not touched by this.
include(GNUInstallDirs)
set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(packaging_out ${PROJECT_BINARY_DIR}/packaging)

install(TARGETS zalvento norvatatool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# An installed copy finds its bundled files here and copies them into the user's own program folder.
install(FILES ${bundled_data} DESTINATION ${CMAKE_INSTALL_DATADIR}/zalvento)
install(FILES ${packaging_dir}/de.quenkel.zalvento.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging_dir}/de.quenkel.zalvento.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${packaging_dir}/de.quenkel.zalvento.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Manual pages and the package's change log are installed compressed, as Debian wants them.
set(compressed)
foreach(source zalvento.1 norvatatool.1 changelog)
    add_custom_command(OUTPUT ${packaging_out}/${source}.gz
        COMMAND gzip -9nc ${packaging_dir}/${source} > ${packaging_out}/${source}.gz
        DEPENDS ${packaging_dir}/${source} VERBATIM)
    list(APPEND compressed ${packaging_out}/${source}.gz)
endforeach()
add_custom_target(packaging_files ALL DEPENDS ${compressed})
install(FILES ${packaging_out}/zalvento.1.gz ${packaging_out}/norvatatool.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${packaging_dir}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zalvento)
install(FILES ${packaging_out}/changelog.gz RENAME changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zalvento)

# The unattended set-up: a user unit, not enabled by the installation. It names the executable by its
# full path, and the prefix is known only when installing (cmake --install --prefix, or /usr in the package).
install(CODE "
    set(CMAKE_INSTALL_FULL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(unit \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/user/zalvento-automatic.service\")
    message(STATUS \"Installing: \${unit}\")
    configure_file(\"${packaging_dir}/zalvento-automatic.service.in\" \"\${unit}\" @ONLY)
")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zalvento)
set(CPACK_PACKAGE_VENDOR Quenkel)
set(CPACK_PACKAGE_CONTACT "Quenkel <zalvento@quenkel.de>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "current value of a German share index from its components' prices")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "NV Zalvento computes the current value of a German share index (Dax, MDax,
SDax or TecDax) from the prices of its component shares and keeps it current
through the trading day, from the intraday table of Norvata or from a trading
venue's quote page. It publishes the value on the D-Bus session bus and in an
XML file, and brings a user unit that runs it unattended.")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.quenkel.de/zalvento)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Named as well as found by the library scan: the user unit's readiness and watchdog go through it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsystemd0")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
