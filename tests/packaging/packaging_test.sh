#!/usr/bin/env bash
# Packaging checks, one case per run: packaging_test.sh CASE. CTest passes the paths in
# the environment (see CMakeLists.txt beside this file).
set -euo pipefail

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The value of KEY in the [Desktop Entry] group of the desktop file.
desktop_value() {
    sed -n "s/^$1=//p" "$DESKTOP_FILE" | head -n1
}

desktopEntryAndMetainfo_validate_andNameTheInstalledProgram() {
    desktop-file-validate "$DESKTOP_FILE" || fail "desktop-file-validate rejects $DESKTOP_FILE"
    appstreamcli validate --no-net "$METAINFO_FILE" || fail "appstreamcli rejects $METAINFO_FILE"

    [[ $(desktop_value Exec) == "$FILES_DIR/bin/ovrinkey" ]] || fail "Exec is '$(desktop_value Exec)'"
    [[ $(desktop_value Icon) == com.qorvex.ovrinkey ]] || fail "Icon is '$(desktop_value Icon)'"
    [[ -n $(desktop_value 'Name\[zh_CN\]') && -n $(desktop_value 'Name\[zh_TW\]') ]] ||
        fail "the Chinese names are missing"
    grep -q '<launchable type="desktop-id">com.qorvex.ovrinkey.desktop</launchable>' "$METAINFO_FILE" ||
        fail "the metainfo does not launch the desktop entry"
    grep -q '<id>com.qorvex.ovrinkey</id>' "$METAINFO_FILE" || fail "the metainfo id differs from the entry's"
    ! grep -q '@[A-Z_]*@' "$DESKTOP_FILE" "$METAINFO_FILE" || fail "a placeholder was left unfilled"
}

# The version a package's control data gives, in the info file's four numeric parts:
# 1.0.0-1 -> 1.0.0.1.
info_version_of() {
    local version=$1
    version=${version#*:}
    echo "${version//-/.}"
}

# Checks an info file against the store's rules: $1 the file, $2 the version it must carry.
check_info() {
    local info=$1 version=$2
    jq -e . "$info" >/dev/null || fail "$info is not JSON"
    local key
    for key in appid name version arch permissions; do
        jq -e "has(\"$key\")" "$info" >/dev/null || fail "$info has no $key"
    done
    [[ $(jq -r .appid "$info") == "$APP_ID" ]] || fail "appid is $(jq -r .appid "$info")"
    [[ $(jq -r .name "$info") == "$(desktop_value Name)" ]] || fail "name differs from the desktop entry's"
    local got
    got=$(jq -r .version "$info")
    [[ $got =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "version '$got' is not four numbers"
    [[ $got == "$version" ]] || fail "version '$got' is not the package's '$version'"
    jq -e '.arch | type == "array" and length > 0 and all(type == "string" and length > 0)' "$info" >/dev/null ||
        fail "arch is not a list of architectures"
    # Only what the manager uses is asked for: notices and the tray icon.
    jq -e '.permissions | type == "object" and .notification == true and .trayicon == true
           and ([to_entries[] | select(.key != "notification" and .key != "trayicon") | .value]
                | all(. == false))
           and ([.[] | type] | all(. == "boolean"))' "$info" >/dev/null ||
        fail "the permissions are wrong: $(jq -c .permissions "$info")"
}

infoFile_isValidJson_withEveryField_andThePackagesVersion() {
    local upstream release
    upstream=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$CPACK_CONFIG")
    release=$(sed -n 's/^set(CPACK_DEBIAN_PACKAGE_RELEASE "\(.*\)")$/\1/p' "$CPACK_CONFIG")
    [[ -n $upstream && -n $release ]] || fail "no package version in $CPACK_CONFIG"
    check_info "$INFO_FILE" "$(info_version_of "$upstream-$release")"
    [[ $(jq -r '.arch[0]' "$INFO_FILE") == "$(dpkg --print-architecture)" ]] || fail "arch is not this machine's"
}

icons_areSquarePngsOfTheirFolderSize() {
    local count=0 folder size got
    for folder in "$ICON_DIR"/*x*; do
        size=${folder##*/}
        got=$(identify -format '%m %wx%h' "$folder/apps/com.qorvex.ovrinkey.png") ||
            fail "no icon in $folder"
        [[ $got == "PNG $size" ]] || fail "$folder holds '$got'"
        count=$((count + 1))
    done
    ((count >= 6)) || fail "only $count icon sizes"
    # The icon is drawn, not empty: its middle is opaque.
    got=$(convert "$ICON_DIR/48x48/apps/com.qorvex.ovrinkey.png" -format '%[fx:p{24,24}.a]' info:)
    [[ $got == 1 ]] || fail "the 48 px icon is transparent in the middle ($got)"
}

# Runs the soft token's maintainer scripts with the driver path moved into $work.
run_script() {
    local script=$1
    shift
    sed -e "s#@OVRINKEY_DRIVER_PATH@#$work/files/lib/libovrinskf.so.1.0.0#" \
        -e "s#@SOFTSKF_INSTALLED_LIB@#$work/usr/lib/softskf/libovrinskf.so.1.0.0#" \
        "$SCRIPT_DIR/softskf.$script.in" >"$work/$script"
    sh "$work/$script" "$@" 2>/dev/null
}

maintainerScripts_linkOnlyAFreeDriverPath_andRemoveOnlyTheirOwnLink() {
    local driver="$work/files/lib/libovrinskf.so.1.0.0"
    local ours="$work/usr/lib/softskf/libovrinskf.so.1.0.0"
    mkdir -p "${ours%/*}"
    echo soft >"$ours"

    # Nothing there: the link is made, survives an upgrade, and goes with the package.
    run_script postinst configure
    [[ -L $driver && $(readlink "$driver") == "$ours" ]] || fail "no link on a free driver path"
    run_script postinst configure 1.0.0-1
    [[ $(readlink "$driver") == "$ours" ]] || fail "reconfiguring changed the link"
    run_script postrm upgrade 1.0.0-1
    [[ -L $driver ]] || fail "an upgrade removed the link"
    run_script postrm remove
    [[ ! -e $driver && ! -L $driver ]] || fail "removal left the link"
    [[ ! -d $work/files ]] || fail "removal left the empty folders it made"

    # The manager's own files keep their folder.
    mkdir -p "$work/files/lang"
    run_script postinst configure
    run_script postrm remove
    [[ -d $work/files/lang && ! -e $driver ]] || fail "removal took the manager's folder"

    # A vendor's driver: neither installing nor removing touches it.
    mkdir -p "${driver%/*}"
    echo vendor >"$driver"
    run_script postinst configure
    [[ ! -L $driver && $(cat "$driver") == vendor ]] || fail "installing replaced a vendor's driver"
    run_script postrm remove
    run_script postrm purge
    [[ $(cat "$driver") == vendor ]] || fail "removal took a vendor's driver"

    # Another soft token there (scripts/run's, as a file or a link; one with the version mark
    # and one of a build before the mark, known by its store variable) gives way to the package's.
    rm "$driver"
    printf 'ELF... softskf_version ...' >"$work/run-softtoken.so"
    printf 'ELF... getenv SOFTSKF_DIR ...' >"$work/earlier-softtoken.so"
    for kind in file link earlier-file; do
        case $kind in
        file) cp "$work/run-softtoken.so" "$driver" ;;
        link) ln -s "$work/run-softtoken.so" "$driver" ;;
        earlier-file) cp "$work/earlier-softtoken.so" "$driver" ;;
        esac
        run_script postinst configure
        [[ $(readlink "$driver") == "$ours" ]] || fail "installing kept another soft token ($kind)"
        run_script postrm remove
        [[ ! -e $driver && ! -L $driver ]] || fail "removal left the link that replaced a soft token ($kind)"
        mkdir -p "${driver%/*}"
    done
    echo vendor >"$driver"

    # A link someone else made (a vendor's driver installed as a link) is not ours either.
    rm "$driver"
    ln -s /nonexistent/vendor.so "$driver"
    run_script postinst configure
    [[ $(readlink "$driver") == /nonexistent/vendor.so ]] || fail "installing replaced a foreign link"
    run_script postrm remove
    [[ $(readlink "$driver") == /nonexistent/vendor.so ]] || fail "removal took a foreign link"
}

manualPage_formatsWithoutWarnings_andCoversEveryCommandAndOptionOfTheHelp() {
    local warnings
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 groff -man -Tutf8 -ww -z "$MANPAGE" 2>&1) || fail "groff failed"
    [[ -z $warnings ]] || fail "groff warns: $warnings"
    # The page as a reader sees it, hyphens plain and lines unbroken.
    LC_ALL=C.UTF-8 MANWIDTH=1000 groff -man -Tutf8 -rLL=1000n "$MANPAGE" 2>/dev/null |
        sed 's/\x1b\[[0-9;]*m//g; s/.\x08//g; s/\xe2\x80\x90/-/g' >"$work/manual.txt"
    # The page is the same wherever the tree was built: it names the installed driver path.
    grep -qF "$MANUAL_DRIVER_PATH" "$work/manual.txt" || fail "the manual does not name the driver path $MANUAL_DRIVER_PATH"
    ! grep -qF -e "$BUILD_DIR" -e "$SOURCE_DIR" "$work/manual.txt" || fail "the manual names the folder it was built in"

    # Every command of the overview, and every option of each command's own help.
    local commands command option
    commands=$("$SKFTOOL" --help | awk '/commands/ {listing = 1; next} /^$/ {listing = 0} listing {print $1}')
    (($(wc -w <<<"$commands") >= 20)) || fail "the overview lists only: $commands"
    for command in $commands; do
        grep -q "skftool $command\b" "$work/manual.txt" || fail "the manual lacks the command $command"
        for option in $("$SKFTOOL" "$command" --help | awk '/^Options:/ {listing = 1; next} listing {print $1}'); do
            # The option as an entry of that command's part of the page, not only named in a sentence.
            sed -n "/^ *skftool $command\b/,/^ *skftool [a-z-]* .*:\$\|^ *skftool [a-z-]*:\$/p" "$work/manual.txt" |
                grep -q -- "^ *$option\b" || fail "the manual lacks $option of $command"
        done
    done
    for option in $("$SKFTOOL" --help | awk '/^Global options:/ {listing = 1; next} /^$/ {listing = 0} listing && /^  -/ {print $1}'); do
        grep -q -- "^ *$option\b" "$work/manual.txt" || fail "the manual lacks the global option $option"
    done
}

# The value of FIELD in the control data of a .deb.
field() {
    dpkg-deb -f "$1" "$2"
}

packages_carryTheirFiles_andDependenciesComputedFromTheBinaries() {
    (cd "$work" && cpack --config "$CPACK_CONFIG" -B "$work/out" >"$work/cpack.log" 2>&1) ||
        fail "cpack failed: $(tail -n 20 "$work/cpack.log")"
    local manager softtoken module
    manager=$(ls "$work"/out/ovrinkey_*.deb) || fail "no manager package"
    softtoken=$(ls "$work"/out/softskf_*.deb) || fail "no soft token package"
    module=$(ls "$work"/out/skfp11_*.deb) || fail "no PKCS#11 module package"

    dpkg-deb -c "$manager" | awk '{print $6 $7 $8}' >"$work/manager.list"
    dpkg-deb -c "$softtoken" | awk '{print $6 $7 $8}' >"$work/softtoken.list"
    dpkg-deb -c "$module" | awk '{print $6 $7 $8}' >"$work/module.list"
    local path
    for path in "$FILES_DIR/bin/ovrinkey" "$FILES_DIR/lang/vqcsp_2052.lng" "$FILES_DIR/lang/vqcsp_1028.lng" \
        "$FILES_DIR/lang/vqcsp_1033.lng" /usr/share/applications/com.qorvex.ovrinkey.desktop-\> \
        /usr/share/metainfo/com.qorvex.ovrinkey.metainfo.xml-\> \
        /usr/share/icons/hicolor/48x48/apps/com.qorvex.ovrinkey.png-\>; do
        grep -q "^\.$path" "$work/manager.list" || fail "the manager package lacks $path"
    done
    local multiarch
    multiarch=$(gcc -print-multiarch)
    for path in /usr/bin/skftool /usr/lib/softskf/libovrinskf.so.1.0.0 /usr/share/man/man1/skftool.1.gz; do
        grep -q "^\.$path" "$work/softtoken.list" || fail "the soft token package lacks $path"
    done
    for path in "/usr/lib/$multiarch/pkcs11/libskfp11.so" /usr/share/p11-kit/modules/skfp11.module \
        /usr/include/skfp11.h "/usr/lib/$multiarch/ossl-modules/skf.so"; do
        grep -q "^\.$path" "$work/module.list" || fail "the module package lacks $path"
    done
    ! grep -q "skfp11" "$work/softtoken.list" || fail "the soft token package still carries the module"
    local package
    for package in ovrinkey:manager softskf:softtoken skfp11:module; do
        for path in copyright changelog.Debian.gz; do
            grep -q "^\./usr/share/doc/${package%%:*}/$path\$" "$work/${package#*:}.list" ||
                fail "${package%%:*} lacks /usr/share/doc/${package%%:*}/$path"
        done
    done
    # The store's info file sits beside files/ and entries/ and carries the package's version.
    grep -q "^\.$APP_DIR/info\$" "$work/manager.list" || fail "the manager package lacks $APP_DIR/info"
    dpkg-deb --fsys-tarfile "$manager" | tar -xO ".$APP_DIR/info" >"$work/info" || fail "cannot read the info file"
    check_info "$work/info" "$(info_version_of "$(field "$manager" Version)")"
    [[ $(jq -r '.arch[0]' "$work/info") == "$(field "$manager" Architecture)" ]] ||
        fail "the info file's arch is not the package's"
    # The fixed driver path belongs to no package: a vendor's driver may live there.
    ! grep -q "libovrinskf.so.1.0.0" "$work/manager.list" || fail "the manager package ships a driver"
    ! grep -q "^\.$FILES_DIR/lib/" "$work/softtoken.list" || fail "the soft token package writes the driver path"

    # The entry's links point at the files the same package puts in entries/.
    local target
    target=$(grep '^\./usr/share/applications/' "$work/manager.list" | sed 's/.*->//')
    grep -q "^\.$target\$" "$work/manager.list" || fail "the desktop link points at $target, which is not shipped"

    # Dependencies come from the binaries, and the fonts the captions are measured for.
    local depends
    depends=$(field "$manager" Depends)
    for library in libqt5widgets5 libssl3 libc6 fonts-noto-cjk fonts-dejavu-core; do
        [[ $depends == *"$library"* ]] || fail "the manager does not depend on $library: $depends"
    done
    depends=$(field "$softtoken" Depends)
    for library in libsqlite3-0 libssl3; do
        [[ $depends == *"$library"* ]] || fail "the soft token does not depend on $library: $depends"
    done
    [[ $(field "$manager" Recommends) == *softskf* ]] || fail "the manager does not recommend the soft token"
    # The module serves a vendor's driver: it needs neither the soft token nor the manager.
    [[ $(field "$manager" Recommends) == *skfp11* ]] || fail "the manager does not recommend the module"
    [[ $(field "$softtoken" Recommends) == *skfp11* ]] || fail "the soft token does not recommend the module"
    [[ $(field "$module" Depends) != *softskf* && $(field "$module" Depends) != *ovrinkey* ]] ||
        fail "the module depends on $(field "$module" Depends)"

    # The maintainer scripts are in the soft token package, filled in and valid shell.
    mkdir "$work/control"
    dpkg-deb -e "$softtoken" "$work/control"
    for script in postinst postrm; do
        [[ -x $work/control/$script ]] || fail "$script missing or not executable"
        sh -n "$work/control/$script" || fail "$script is not valid shell"
        grep -q "driver=\"$FILES_DIR/lib/libovrinskf.so.1.0.0\"" "$work/control/$script" ||
            fail "$script does not name the manager's driver path"
    done
}

# lintian as a Debian maintainer runs it, on the packages CPack makes from this build.
packages_areLintianClean_withEveryOverrideGivingItsReason() {
    (cd "$work" && cpack --config "$CPACK_CONFIG" -B "$work/out" >"$work/cpack.log" 2>&1) ||
        fail "cpack failed: $(tail -n 20 "$work/cpack.log")"
    local options=()
    # A test build keeps the manager in the build tree instead of /opt/apps.
    [[ $APP_DIR == /opt/apps/* ]] || options=(--build-tree "$APP_DIR")
    "$PACKAGING_DIR/lintian-check" "${options[@]}" "$work"/out/*.deb || fail "lintian is not clean"
}

case=${1:?usage: packaging_test.sh CASE}
declare -F "$case" >/dev/null || fail "no case $case"
"$case"
echo "PASS: $case"
