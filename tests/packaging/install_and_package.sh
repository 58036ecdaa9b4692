#!/bin/sh
# What a Linux user gets: `cmake --install` into a prefix of its own, and the .deb that
# cpack makes from the same build, each with every file where desktops, man and dpkg
# look for it.
#   install_and_package.sh BUILD WORK VERSION
set -eu
build=$1
work=$2
version=$3
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
rm -rf "$work"
mkdir -p "$work"

files="bin/orvante bin/orvante-cli bin/orvante-sim bin/orvante-bridge
share/applications/orvante.desktop
share/doc/orvante/copyright share/doc/orvante/changelog.gz
share/doc/orvante/examples/bridge.json lib/systemd/system/orvante-bridge@.service
share/man/man1/orvante.1.gz share/man/man1/orvante-cli.1.gz share/man/man1/orvante-sim.1.gz
share/man/man1/orvante-bridge.1.gz
share/bash-completion/completions/orvante-cli"
sizes="16 24 32 48 64 128 256"
for size in $sizes; do files="$files share/icons/hicolor/${size}x$size/apps/orvante.png"; done

# The install.
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in $files; do
    [ -f "$prefix/$file" ] || fail "cmake --install did not put $file in place"
done
desktop=$prefix/share/applications/orvante.desktop
desktop-file-validate "$desktop" || fail "the desktop entry is not valid"
# The menu's second way in: the console with its virtual module (the validator has seen
# that Actions= names the group).
sed -n '/^\[Desktop Action demo\]$/,/^\[/p' "$desktop" | grep -qx 'Exec=orvante --demo' ||
    fail "the desktop entry has no demo action that starts orvante --demo"
for size in $sizes; do
    file "$prefix/share/icons/hicolor/${size}x$size/apps/orvante.png" | grep -q "PNG image data, $size x $size" ||
        fail "the ${size}x$size icon is not a $size px PNG"
done
for program in orvante orvante-cli orvante-sim; do
    page=$(zcat "$prefix/share/man/man1/$program.1.gz")
    echo "$page" | grep -q "^$program \\\\- .*(.*红外" || fail "the man page of $program has no NAME line with its Chinese name"
    echo "$page" | grep -q "^\.SH OPTIONS" || fail "the man page of $program lists no options"
    "$prefix/bin/$program" --version | grep -qx "$program $version" || fail "the installed $program does not run"
done
# orvante-cli's page: every command with its arguments, the tasks' format, and the
# sections a command-line tool's page has.
page=$(zcat "$prefix/share/man/man1/orvante-cli.1.gz")
for section in COMMANDS "TIMED TASKS" "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
    echo "$page" | grep -q "^\.SH \"\{0,1\}$section" || fail "orvante-cli's man page has no $section section"
done
for command in "capacity set" "tasks set" learn export import ac; do
    echo "$page" | grep -q "^\.SS $command\$" || fail "orvante-cli's man page does not explain $command"
done
echo "$page" | grep -q '"slot": 5' || fail "orvante-cli's man page has no timed-task example"

# The bridge's sample configuration is one it takes (but for its port and password file).
grep -q '"broker": "mqtt://localhost:1883"' "$prefix/share/doc/orvante/examples/bridge.json" ||
    fail "the bridge's sample configuration is not there"
grep -qx 'ExecStart=/usr/bin/orvante-bridge /etc/orvante/%i.json' \
    "$prefix/lib/systemd/system/orvante-bridge@.service" || fail "the bridge's unit does not start it"

# The package.
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null)
deb=$(ls "$work"/deb/orvante_"$version"_*.deb) || fail "cpack made no orvante_${version}_*.deb"
listed=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for file in $files; do
    echo "$listed" | grep -qx "./usr/$file" || fail "the .deb does not hold /usr/$file"
done
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libc6 libmosquitto1 fonts-wqy-microhei qt6-translations-l10n; do
    echo "$depends" | grep -q "$package" || fail "the .deb does not depend on $package: $depends"
done
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the .deb's version is not $version"
echo "installed and packaged: $deb"
