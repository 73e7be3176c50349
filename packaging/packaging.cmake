# Debian packages made by CPack, and the install layout they carry:
#   ovrinkey  the manager under /opt/apps/com.qorvex.ovrinkey/files (program, language files),
#             its desktop entry, AppStream metainfo and hicolor icons under .../entries,
#             linked into /usr/share where the desktop looks for them, and the app
#             store's info file at /opt/apps/<appid>/info;
#   softskf   the soft token: libovrinskf.so.1.0.0 under /usr/lib/softskf, skftool and its
#             manual page. Its maintainer scripts link the manager's fixed driver path to
#             the library only when nothing or another soft token is there, and remove
#             only that link;
#   skfp11    the PKCS#11 module libskfp11.so in p11-kit's module folder with its module
#             file, its public header skfp11.h and skfp11-register with its autostart entry.
#             It serves any SKF driver, so it depends on neither of the others. It also
#             carries the OpenSSL provider skf.so in OpenSSL's modules folder: the same
#             drivers, for OpenSSL 3 programs.
# Every package carries a machine-readable copyright file and a Debian changelog, and the
# binaries are stripped as dh_strip would (no .comment section), so lintian passes them.
# Included from the root CMakeLists.txt after every area, so all targets are known.
#   cpack --config <build>/CPackConfig.cmake      (scripts/package does this)

get_filename_component(OVRINKEY_APP_DIR "${OVRINKEY_FILES_DIR}" DIRECTORY)
set(OVRINKEY_ENTRIES_DIR "${OVRINKEY_APP_DIR}/entries")
# The packages install relative destinations under /usr.
set(OVRINKEY_PACKAGE_PREFIX "/usr")
set(SOFTSKF_INSTALLED_LIB "${OVRINKEY_PACKAGE_PREFIX}/lib/softskf/libovrinskf.so.1.0.0")
set(OVRINKEY_PACKAGING_DIR "${CMAKE_CURRENT_LIST_DIR}")
set(OVRINKEY_PACKAGING_OUT "${CMAKE_BINARY_DIR}/packaging")
set(OVRINKEY_ICON_SIZES 16 22 24 32 48 64 128 256 512)

# The Debian revision of both packages; the info file's version is the upstream version
# with the revision as its fourth part (1.0.0-1 -> 1.0.0.1), as the app stores ask.
set(OVRINKEY_PACKAGE_RELEASE 1)
set(OVRINKEY_INFO_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${OVRINKEY_PACKAGE_RELEASE}")
find_program(DPKG_PROGRAM dpkg)
if(DPKG_PROGRAM)
    execute_process(COMMAND "${DPKG_PROGRAM}" --print-architecture
        OUTPUT_VARIABLE OVRINKEY_PACKAGE_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(NOT OVRINKEY_PACKAGE_ARCH)
    set(OVRINKEY_PACKAGE_ARCH "amd64")
endif()

# ----- files made at configure time: the entry and metainfo with this tree's paths, the
# maintainer scripts with the driver path, and the links from /usr/share into entries/.
configure_file("${OVRINKEY_PACKAGING_DIR}/${OVRINKEY_APP_ID}.desktop.in"
    "${OVRINKEY_PACKAGING_OUT}/${OVRINKEY_APP_ID}.desktop" @ONLY)
configure_file("${OVRINKEY_PACKAGING_DIR}/${OVRINKEY_APP_ID}.metainfo.xml.in"
    "${OVRINKEY_PACKAGING_OUT}/${OVRINKEY_APP_ID}.metainfo.xml" @ONLY)
configure_file("${OVRINKEY_PACKAGING_DIR}/info.in" "${OVRINKEY_PACKAGING_OUT}/info" @ONLY)
foreach(script postinst postrm)
    configure_file("${OVRINKEY_PACKAGING_DIR}/debian/softskf.${script}.in"
        "${OVRINKEY_PACKAGING_OUT}/softskf/${script}" @ONLY
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()

set(OVRINKEY_LINK_DIR "${OVRINKEY_PACKAGING_OUT}/links")
file(MAKE_DIRECTORY "${OVRINKEY_LINK_DIR}")
file(CREATE_LINK "${OVRINKEY_ENTRIES_DIR}/applications/${OVRINKEY_APP_ID}.desktop"
    "${OVRINKEY_LINK_DIR}/${OVRINKEY_APP_ID}.desktop" SYMBOLIC)
file(CREATE_LINK "${OVRINKEY_ENTRIES_DIR}/metainfo/${OVRINKEY_APP_ID}.metainfo.xml"
    "${OVRINKEY_LINK_DIR}/${OVRINKEY_APP_ID}.metainfo.xml" SYMBOLIC)
foreach(size ${OVRINKEY_ICON_SIZES})
    file(MAKE_DIRECTORY "${OVRINKEY_LINK_DIR}/${size}")
    file(CREATE_LINK "${OVRINKEY_ENTRIES_DIR}/icons/hicolor/${size}x${size}/apps/${OVRINKEY_APP_ID}.png"
        "${OVRINKEY_LINK_DIR}/${size}/${OVRINKEY_APP_ID}.png" SYMBOLIC)
endforeach()

# ----- the manager (component "manager")
install(TARGETS ovrinkey RUNTIME DESTINATION "${OVRINKEY_FILES_DIR}/bin" COMPONENT manager)
install(FILES ${OVRINKEY_LANGUAGE_FILES} DESTINATION "${OVRINKEY_LANG_DIR}" COMPONENT manager)
install(FILES "${OVRINKEY_PACKAGING_OUT}/${OVRINKEY_APP_ID}.desktop"
    DESTINATION "${OVRINKEY_ENTRIES_DIR}/applications" COMPONENT manager)
install(FILES "${OVRINKEY_PACKAGING_OUT}/${OVRINKEY_APP_ID}.metainfo.xml"
    DESTINATION "${OVRINKEY_ENTRIES_DIR}/metainfo" COMPONENT manager)
install(FILES "${OVRINKEY_PACKAGING_OUT}/info" DESTINATION "${OVRINKEY_APP_DIR}" COMPONENT manager)
install(DIRECTORY "${OVRINKEY_PACKAGING_DIR}/icons/hicolor"
    DESTINATION "${OVRINKEY_ENTRIES_DIR}/icons" COMPONENT manager)
install(FILES "${OVRINKEY_LINK_DIR}/${OVRINKEY_APP_ID}.desktop"
    DESTINATION share/applications COMPONENT manager)
install(FILES "${OVRINKEY_LINK_DIR}/${OVRINKEY_APP_ID}.metainfo.xml"
    DESTINATION share/metainfo COMPONENT manager)
foreach(size ${OVRINKEY_ICON_SIZES})
    install(FILES "${OVRINKEY_LINK_DIR}/${size}/${OVRINKEY_APP_ID}.png"
        DESTINATION "share/icons/hicolor/${size}x${size}/apps" COMPONENT manager)
endforeach()

# ----- the soft token (component "softtoken"). The library keeps its own folder; the
# manager's driver path is a link the maintainer scripts look after.
install(TARGETS softskf LIBRARY DESTINATION lib/softskf NAMELINK_SKIP COMPONENT softtoken)
install(TARGETS skftool RUNTIME DESTINATION bin COMPONENT softtoken)

# The manual page is made from the program's own help (help2man over 'skftool --help-all')
# and the prose of skftool.h2m, so it lists exactly the commands and options skftool has.
# The help comes from skftool_manual, the same program naming the installed driver path.
find_program(HELP2MAN_PROGRAM help2man REQUIRED)
find_program(GZIP_PROGRAM gzip REQUIRED)
set(SKFTOOL_MANPAGE "${OVRINKEY_PACKAGING_OUT}/skftool.1")
add_custom_command(OUTPUT "${SKFTOOL_MANPAGE}" "${SKFTOOL_MANPAGE}.gz"
    COMMAND env SOURCE_DATE_EPOCH=1796774400 "${HELP2MAN_PROGRAM}" --no-info --no-discard-stderr
        --help-option=--help-all --version-string=${PROJECT_VERSION} "--source=softskf ${PROJECT_VERSION}"
        --include=${OVRINKEY_PACKAGING_DIR}/skftool.h2m --output=${SKFTOOL_MANPAGE} $<TARGET_FILE:skftool_manual>
    COMMAND "${GZIP_PROGRAM}" -9nf -k "${SKFTOOL_MANPAGE}"
    DEPENDS skftool_manual "${OVRINKEY_PACKAGING_DIR}/skftool.h2m"
    COMMENT "Making the skftool manual page from its help"
    VERBATIM)
add_custom_target(skftool_manpage ALL DEPENDS "${SKFTOOL_MANPAGE}.gz")
install(FILES "${SKFTOOL_MANPAGE}.gz" DESTINATION share/man/man1 COMPONENT softtoken)

# ----- the PKCS#11 module (component "skfp11"), where p11-kit looks for modules named
# without a path, with its registration and the header of its vendor mechanisms.
set(SKFP11_MODULE_DIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}/pkcs11")
install(TARGETS skfp11 LIBRARY DESTINATION "${SKFP11_MODULE_DIR}" COMPONENT skfp11)
install(FILES "${OVRINKEY_PACKAGING_DIR}/skfp11.module" DESTINATION share/p11-kit/modules COMPONENT skfp11)
install(FILES "${CMAKE_SOURCE_DIR}/pkcs11/include/skfp11.h" DESTINATION include COMPONENT skfp11)
# The OpenSSL provider, where OpenSSL looks for modules named without a path (-provider skf).
set(SKFPROV_MODULE_DIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}/ossl-modules")
install(TARGETS skfprov LIBRARY DESTINATION "${SKFPROV_MODULE_DIR}" COMPONENT skfp11)
# skfp11-register (pkcs11/register installs it and its autostart entry into this component):
# a Python script that calls NSS's modutil, an entry under /etc that dpkg keeps as a
# configuration file, and a manual page made from the script's --help.
set(SKFP11_REGISTER_DIR "${CMAKE_SOURCE_DIR}/pkcs11/register")
if(EXISTS "${SKFP11_REGISTER_DIR}/skfp11-register.desktop")
    set(CPACK_DEBIAN_SKFP11_PACKAGE_DEPENDS "python3, libnss3-tools")
    file(WRITE "${OVRINKEY_PACKAGING_OUT}/skfp11/conffiles" "/etc/xdg/autostart/skfp11-register.desktop\n")
    set(CPACK_DEBIAN_SKFP11_PACKAGE_CONTROL_EXTRA "${OVRINKEY_PACKAGING_OUT}/skfp11/conffiles")
    set(SKFP11_REGISTER_MANPAGE "${OVRINKEY_PACKAGING_OUT}/skfp11-register.1")
    add_custom_command(OUTPUT "${SKFP11_REGISTER_MANPAGE}.gz"
        COMMAND env SOURCE_DATE_EPOCH=1796774400 "${HELP2MAN_PROGRAM}" --no-info --no-discard-stderr
            --version-string=${PROJECT_VERSION} "--source=skfp11 ${PROJECT_VERSION}"
            "--name=add the SKF PKCS#11 module to the user's NSS databases"
            --output=${SKFP11_REGISTER_MANPAGE} "${CMAKE_BINARY_DIR}/pkcs11/register/skfp11-register"
        COMMAND "${GZIP_PROGRAM}" -9nf "${SKFP11_REGISTER_MANPAGE}"
        DEPENDS "${SKFP11_REGISTER_DIR}/skfp11-register.in"
        COMMENT "Making the skfp11-register manual page from its help"
        VERBATIM)
    # Built with skftool's page, the target scripts/package names.
    add_custom_target(skfp11_register_manpage ALL DEPENDS "${SKFP11_REGISTER_MANPAGE}.gz")
    add_dependencies(skftool_manpage skfp11_register_manpage)
    install(FILES "${SKFP11_REGISTER_MANPAGE}.gz" DESTINATION share/man/man1 COMPONENT skfp11)
endif()

# ----- what Debian asks of every package: the copyright file, the changelog (compressed,
# as changelog.Debian.gz), lintian overrides with their reasons, and binaries without the
# compiler's .comment notes, which CPack's plain strip keeps.
configure_file("${OVRINKEY_PACKAGING_DIR}/debian/changelog.in" "${OVRINKEY_PACKAGING_OUT}/changelog" @ONLY)
execute_process(COMMAND "${GZIP_PROGRAM}" -9nf "${OVRINKEY_PACKAGING_OUT}/changelog")
# component -> package, and the component's binaries as installed (relative to the prefix).
set(OVRINKEY_PACKAGE_manager ovrinkey)
set(OVRINKEY_BINARIES_manager "${OVRINKEY_FILES_DIR}/bin/ovrinkey")
set(OVRINKEY_PACKAGE_softtoken softskf)
set(OVRINKEY_BINARIES_softtoken "lib/softskf/libovrinskf.so.1.0.0" "bin/skftool")
set(OVRINKEY_PACKAGE_skfp11 skfp11)
set(OVRINKEY_BINARIES_skfp11 "${SKFP11_MODULE_DIR}/libskfp11.so" "${SKFPROV_MODULE_DIR}/skf.so")
foreach(component manager softtoken skfp11)
    set(package "${OVRINKEY_PACKAGE_${component}}")
    install(FILES "${OVRINKEY_PACKAGING_DIR}/debian/copyright" DESTINATION "share/doc/${package}"
        COMPONENT ${component})
    install(FILES "${OVRINKEY_PACKAGING_OUT}/changelog.gz" DESTINATION "share/doc/${package}"
        RENAME changelog.Debian.gz COMPONENT ${component})
    if(EXISTS "${OVRINKEY_PACKAGING_DIR}/debian/${package}.lintian-overrides")
        install(FILES "${OVRINKEY_PACKAGING_DIR}/debian/${package}.lintian-overrides"
            DESTINATION share/lintian/overrides RENAME "${package}" COMPONENT ${component})
    endif()
    set(binaries "")
    foreach(binary ${OVRINKEY_BINARIES_${component}})
        if(IS_ABSOLUTE "${binary}")
            string(APPEND binaries " \"\$ENV{DESTDIR}${binary}\"")
        else()
            string(APPEND binaries " \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${binary}\"")
        endif()
    endforeach()
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
        foreach(binary ${binaries})
            execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment \"\${binary}\" COMMAND_ERROR_IS_FATAL ANY)
        endforeach()
    endif()" COMPONENT ${component})
endforeach()

# ----- the icons: committed, redrawn from the resource bundle's drawing code on demand:
#   cmake --build <dir> --target render_icons_run
add_executable(render_icons EXCLUDE_FROM_ALL "${OVRINKEY_PACKAGING_DIR}/render_icons.cpp")
target_link_libraries(render_icons PRIVATE pictures)
add_custom_target(render_icons_run
    COMMAND env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:render_icons> "${OVRINKEY_PACKAGING_DIR}/icons"
    DEPENDS render_icons
    COMMENT "Drawing the hicolor icons into packaging/icons")

# ----- CPack: one .deb per component, dependencies from the binaries (dpkg-shlibdeps).
# cpack installs the packaged targets as they are built; it does not build the whole tree
# (tests, benchmarks) first. scripts/package builds the packaged targets before it.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR "DEB")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_NAME "ovrinkey")
set(CPACK_PACKAGE_VENDOR "Velkora")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Velkora <packages@velkora.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX "${OVRINKEY_PACKAGE_PREFIX}")
set(CPACK_COMPONENTS_ALL manager softtoken skfp11)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_RELEASE ${OVRINKEY_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${OVRINKEY_PACKAGE_ARCH}")

set(CPACK_DEBIAN_MANAGER_PACKAGE_NAME "ovrinkey")
# Descriptions: the synopsis, then the extended lines without their leading space, which
# CPack adds (one space, as Debian's policy asks; a line of "." would be a blank line).
set(CPACK_COMPONENT_MANAGER_DESCRIPTION "desktop manager for USB cryptographic tokens (SKF, GM/T 0016)
One Qt window with a tray icon shows every plugged-in token and follows
insertions and removals. It reads a token's key information, changes its
label and user PIN, lists its containers, key pairs and certificates,
exports, shows and deletes them, and warns of certificates that expire soon.
Texts come in Simplified Chinese, Traditional Chinese and English. The token
vendor's SKF driver, or the soft token, provides the tokens.")
# Without a driver there is nothing to manage; gcr brings the certificate viewer.
set(CPACK_DEBIAN_MANAGER_PACKAGE_RECOMMENDS "softskf, skfp11, gcr")
# The window's captions are measured for Noto Sans CJK (which also draws both Chinese
# scripts; without it Chinese shows as boxes), with DejaVu Sans standing in.
set(CPACK_DEBIAN_MANAGER_PACKAGE_DEPENDS "fonts-noto-cjk, fonts-dejavu-core, qttranslations5-l10n")
set(CPACK_DEBIAN_MANAGER_PACKAGE_SECTION "utils")

set(CPACK_DEBIAN_SOFTTOKEN_PACKAGE_NAME "softskf")
set(CPACK_COMPONENT_SOFTTOKEN_DESCRIPTION "software SKF (GM/T 0016) token and the skftool command
A complete software token that stands in for a vendor's SKF driver: real
SM2, RSA, SM3 and SM4 keys and certificates made with OpenSSL, kept on disk,
with hot-plug events when a token is inserted or removed. skftool creates
and plugs in soft tokens and talks to any SKF driver through its standard
functions. The library becomes the manager's driver only where no vendor's
driver is installed.")
# The PKCS#11 module shows the soft tokens to browsers, GnuTLS, OpenSSL and ssh.
set(CPACK_DEBIAN_SOFTTOKEN_PACKAGE_RECOMMENDS "skfp11")
set(CPACK_DEBIAN_SOFTTOKEN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_SOFTTOKEN_PACKAGE_CONTROL_EXTRA
    "${OVRINKEY_PACKAGING_OUT}/softskf/postinst;${OVRINKEY_PACKAGING_OUT}/softskf/postrm")
set(CPACK_DEBIAN_SOFTTOKEN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The module serves a vendor's driver as well as the soft token: no dependency on softskf.
set(CPACK_DEBIAN_SKFP11_PACKAGE_NAME "skfp11")
set(CPACK_COMPONENT_SKFP11_DESCRIPTION "PKCS#11 module for SKF (GM/T 0016) tokens
libskfp11.so presents the tokens of any SKF driver (a token vendor's, or the
soft token) as PKCS#11 slots, with their certificates, public keys and, after
login with the user PIN, private keys; RSA, and SM2 and SM3 under the vendor
mechanisms of skfp11.h. It is registered with p11-kit, so GnuTLS and GNOME
find it by itself, and skfp11-register adds it to the NSS databases of
Firefox, Thunderbird and Chromium at each login.")
set(CPACK_DEBIAN_SKFP11_PACKAGE_SECTION "utils")
# With skfp11-register, its dependencies and conffiles are set above.
# p11-kit's proxy module; the header includes p11-kit's pkcs11.h.
set(CPACK_DEBIAN_SKFP11_PACKAGE_RECOMMENDS "p11-kit-modules")
set(CPACK_DEBIAN_SKFP11_PACKAGE_SUGGESTS "libp11-kit-dev")

include(CPack)

# The packaging checks run with the other tests.
if(OVRINKEY_TESTS)
    add_subdirectory("${CMAKE_SOURCE_DIR}/tests/packaging" "${CMAKE_BINARY_DIR}/tests/packaging")
endif()
