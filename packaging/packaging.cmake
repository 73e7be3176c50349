# Debian packages made by CPack, and the install layout they carry:
#   ovrinkey  the manager under /opt/apps/com.qorvex.ovrinkey/files (program, language files),
#             its desktop entry, AppStream metainfo and hicolor icons under .../entries,
#             linked into /usr/share where the desktop looks for them, and the app
#             store's info file at /opt/apps/<appid>/info;
#   softskf   the soft token: libovrinskf.so.1.0.0 under /usr/lib/softskf, skftool and its
#             manual page, and the PKCS#11 module libskfp11.so in p11-kit's module folder with
#             its module file. Its maintainer scripts link the manager's fixed driver path to
#             the library only when nothing is there, and remove only that link.
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
# The PKCS#11 module goes where p11-kit looks for modules named without a path.
install(TARGETS skfp11 LIBRARY DESTINATION "lib/${CMAKE_LIBRARY_ARCHITECTURE}/pkcs11" COMPONENT softtoken)
install(FILES "${OVRINKEY_PACKAGING_DIR}/skfp11.module" DESTINATION share/p11-kit/modules COMPONENT softtoken)
find_program(GZIP_PROGRAM gzip)
if(GZIP_PROGRAM)
    add_custom_command(OUTPUT "${OVRINKEY_PACKAGING_OUT}/skftool.1.gz"
        COMMAND "${GZIP_PROGRAM}" -9n -c "${OVRINKEY_PACKAGING_DIR}/skftool.1" > "${OVRINKEY_PACKAGING_OUT}/skftool.1.gz"
        DEPENDS "${OVRINKEY_PACKAGING_DIR}/skftool.1"
        COMMENT "Compressing the skftool manual page")
    add_custom_target(skftool_manpage ALL DEPENDS "${OVRINKEY_PACKAGING_OUT}/skftool.1.gz")
    install(FILES "${OVRINKEY_PACKAGING_OUT}/skftool.1.gz" DESTINATION share/man/man1 COMPONENT softtoken)
else()
    install(FILES "${OVRINKEY_PACKAGING_DIR}/skftool.1" DESTINATION share/man/man1 COMPONENT softtoken)
endif()

# ----- the icons: committed, redrawn from the resource bundle's drawing code on demand:
#   cmake --build <dir> --target render_icons_run
add_executable(render_icons EXCLUDE_FROM_ALL "${OVRINKEY_PACKAGING_DIR}/render_icons.cpp")
target_link_libraries(render_icons PRIVATE Qt5::Gui)
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
set(CPACK_COMPONENTS_ALL manager softtoken)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_RELEASE ${OVRINKEY_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${OVRINKEY_PACKAGE_ARCH}")

set(CPACK_DEBIAN_MANAGER_PACKAGE_NAME "ovrinkey")
set(CPACK_COMPONENT_MANAGER_DESCRIPTION "Desktop manager for USB cryptographic tokens (SKF, GM/T 0016)
 One Qt window with a tray icon shows every plugged-in token, follows insertions and
 removals, reads a token's key information, changes its label and user PIN, lists its
 containers, key pairs and certificates, exports, shows and deletes them, and warns of
 certificates that expire soon. Texts in Simplified Chinese, Traditional Chinese and
 English. The token vendor's SKF driver, or the soft token, provides the tokens.")
# Without a driver there is nothing to manage; gcr brings the certificate viewer.
set(CPACK_DEBIAN_MANAGER_PACKAGE_RECOMMENDS "softskf, gcr")
# The window's captions are measured for Noto Sans CJK (which also draws both Chinese
# scripts; without it Chinese shows as boxes), with DejaVu Sans standing in.
set(CPACK_DEBIAN_MANAGER_PACKAGE_DEPENDS "fonts-noto-cjk, fonts-dejavu-core, qttranslations5-l10n")
set(CPACK_DEBIAN_MANAGER_PACKAGE_SECTION "utils")

set(CPACK_DEBIAN_SOFTTOKEN_PACKAGE_NAME "softskf")
set(CPACK_COMPONENT_SOFTTOKEN_DESCRIPTION "Software SKF (GM/T 0016) token and the skftool command
 A complete software token that stands in for a vendor's SKF driver: real SM2, RSA, SM3
 and SM4 keys and certificates made with OpenSSL, kept on disk, with hot-plug events when
 a token is inserted or removed. skftool creates and plugs in soft tokens and talks to any
 SKF driver through its standard functions. The library becomes the manager's driver only
 where no other driver is installed. The PKCS#11 module libskfp11.so, registered with p11-kit,
 shows the tokens of the manager's driver to browsers, GnuTLS, OpenSSL and ssh.")
set(CPACK_DEBIAN_SOFTTOKEN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_SOFTTOKEN_PACKAGE_CONTROL_EXTRA
    "${OVRINKEY_PACKAGING_OUT}/softskf/postinst;${OVRINKEY_PACKAGING_OUT}/softskf/postrm")
set(CPACK_DEBIAN_SOFTTOKEN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)

# The packaging checks run with the other tests.
if(OVRINKEY_TESTS)
    add_subdirectory("${CMAKE_SOURCE_DIR}/tests/packaging" "${CMAKE_BINARY_DIR}/tests/packaging")
endif()
