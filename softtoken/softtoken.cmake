# The soft token: the store (SQLite), the admin API for skftool, and the SKF driver
# library libovrinskf.so.1.0.0 built in layers (entry, core, store, crypto, codec).

set(SOFTSKF_LIB_DIR "${CMAKE_CURRENT_LIST_DIR}/lib")

# The store layer, shared by the driver and the admin API.
add_library(softskf_store STATIC
    lib/store/Sqlite.cpp
    lib/store/StorePaths.cpp
    lib/store/TokenDb.cpp)
target_include_directories(softskf_store PUBLIC "${SOFTSKF_LIB_DIR}")
target_link_libraries(softskf_store PUBLIC ossl_support SQLite::SQLite3)
set_target_properties(softskf_store PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

# Store commands for skftool: create, list, delete, insert and remove tokens.
add_library(softskf_admin STATIC admin/tokenadmin.cpp)
# Both "tokenadmin.h" and "admin/tokenadmin.h" resolve.
target_include_directories(softskf_admin PUBLIC "${CMAKE_CURRENT_LIST_DIR}/admin" "${CMAKE_CURRENT_LIST_DIR}")
target_link_libraries(softskf_admin PRIVATE softskf_store)

# Every source by name: a renamed or missing file stops the build.
set(SOFTSKF_LAYER_SOURCES
    "${SOFTSKF_LIB_DIR}/codec/Blobs.cpp"
    "${SOFTSKF_LIB_DIR}/codec/CipherBlobs.cpp"
    "${SOFTSKF_LIB_DIR}/core/CoreAgreement.cpp"
    "${SOFTSKF_LIB_DIR}/core/CoreApplications.cpp"
    "${SOFTSKF_LIB_DIR}/core/CoreCipher.cpp"
    "${SOFTSKF_LIB_DIR}/core/CoreContainers.cpp"
    "${SOFTSKF_LIB_DIR}/core/CoreCrypto.cpp"
    "${SOFTSKF_LIB_DIR}/core/CoreDevices.cpp"
    "${SOFTSKF_LIB_DIR}/core/CoreFiles.cpp"
    "${SOFTSKF_LIB_DIR}/core/DeviceEvents.cpp"
    "${SOFTSKF_LIB_DIR}/core/HandleTable.cpp"
    "${SOFTSKF_LIB_DIR}/core/PinRecords.cpp"
    "${SOFTSKF_LIB_DIR}/core/PresenceWatch.cpp"
    "${SOFTSKF_LIB_DIR}/core/SecurityState.cpp"
    "${SOFTSKF_LIB_DIR}/crypto/Crypto.cpp"
    "${SOFTSKF_LIB_DIR}/crypto/Digest.cpp"
    "${SOFTSKF_LIB_DIR}/crypto/KeyCache.cpp"
    "${SOFTSKF_LIB_DIR}/crypto/PinKeys.cpp"
    "${SOFTSKF_LIB_DIR}/crypto/PinSecret.cpp"
    "${SOFTSKF_LIB_DIR}/crypto/Rsa.cpp"
    "${SOFTSKF_LIB_DIR}/crypto/Sm2.cpp"
    "${SOFTSKF_LIB_DIR}/crypto/Symmetric.cpp")
set(SOFTSKF_ENTRY_SOURCES
    "${SOFTSKF_LIB_DIR}/entry/SkfApplication.cpp"
    "${SOFTSKF_LIB_DIR}/entry/SkfContainer.cpp"
    "${SOFTSKF_LIB_DIR}/entry/SkfCrypto.cpp"
    "${SOFTSKF_LIB_DIR}/entry/SkfDevice.cpp"
    "${SOFTSKF_LIB_DIR}/entry/SkfFile.cpp"
    "${SOFTSKF_LIB_DIR}/entry/Version.cpp")

# Everything below the C entry layer, static so unit tests can link it directly.
add_library(softskf_core STATIC ${SOFTSKF_LAYER_SOURCES})
target_include_directories(softskf_core PUBLIC "${SOFTSKF_LIB_DIR}")
target_link_libraries(softskf_core PUBLIC softskf_store skf_headers ossl_support skfcodec Threads::Threads)
set_target_properties(softskf_core PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

add_library(softskf SHARED ${SOFTSKF_ENTRY_SOURCES})
target_link_libraries(softskf PRIVATE softskf_core skf_headers)
target_compile_definitions(softskf PRIVATE OVRINKEY_VERSION="${PROJECT_VERSION}")
set(SOFTSKF_VERSION_SCRIPT "${SOFTSKF_LIB_DIR}/entry/exports.map")
# -Bsymbolic-functions: calls between the driver's own functions stay inside it, even
# when the host program exports SKF functions of the same names.
target_link_options(softskf PRIVATE "-Wl,--version-script=${SOFTSKF_VERSION_SCRIPT}" "-Wl,--no-undefined"
    "-Wl,-Bsymbolic-functions")
set_target_properties(softskf PROPERTIES
    OUTPUT_NAME ovrinskf
    VERSION 1.0.0
    SOVERSION 1
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS "${SOFTSKF_VERSION_SCRIPT}")
if(OVRINKEY_STAGE_FILES)
    add_custom_command(TARGET softskf POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E make_directory "${OVRINKEY_FILES_DIR}/lib"
        COMMAND ${CMAKE_COMMAND} -E copy "$<TARGET_FILE:softskf>" "${OVRINKEY_FILES_DIR}/lib/libovrinskf.so.1.0.0"
        COMMENT "Staging the soft token as ${OVRINKEY_FILES_DIR}/lib/libovrinskf.so.1.0.0")
endif()

