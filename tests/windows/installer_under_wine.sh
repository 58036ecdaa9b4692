#!/bin/sh
# The Windows installer and zip, made by cpack from this build, under Wine: the installer
# runs silently and puts the programs under Program Files (64-bit), the console and the
# console with its virtual module in the Start menu and its uninstall entry in the
# registry; the programs run from there; the uninstaller takes all of it away again.
#   installer_under_wine.sh WINE_RUN BUILD WORK VERSION
set -eu
wine_run=$1
build=$2
work=$3
version=$4
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
wine() { "$wine_run" "$build" "$@" </dev/null 2>/dev/null; }
rm -rf "$work"
mkdir -p "$work"
# Wine's menu builder copies Start-menu shortcuts into the desktop's menus: these go
# into the work folder, not into the menus of whoever runs the tests.
export XDG_DATA_HOME="$work/xdg-data" XDG_CONFIG_HOME="$work/xdg-config"

(cd "$work" && cpack -G "NSIS;ZIP" --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null)
setup=$work/out/orvante-$version-win64.exe
[ -f "$setup" ] || fail "cpack made no orvante-$version-win64.exe"
file "$setup" | grep -q "PE32+ executable" || fail "the installer is not a 64-bit program"
zipped=$(cmake -E tar tf "$work/out/orvante-$version-win64.zip") || fail "cpack made no zip"
for file in bin/orvante.exe bin/orvante-cli.exe bin/LICENSE.txt; do
    echo "$zipped" | grep -qx "orvante-$version-win64/$file" || fail "the zip does not hold $file"
done
# The pages are English alone (CMake's script would load every language NSIS has), and
# offer no desktop icon, which the installer would not make.
nsis=$work/out/_CPack_Packages/win64/NSIS
[ "$(grep -c MUI_LANGUAGE "$nsis/project.nsi")" = 1 ] || fail "the installer has pages in more languages than English"
! grep -qi desktop "$nsis/NSIS.InstallOptions.ini" || fail "the installer offers a desktop icon"

installed="$WINEPREFIX/drive_c/Program Files/Orvante"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Orvante"
shortcut=$menu/Orvante.lnk
demo_shortcut=$menu/Orvante（虚拟模块）.lnk
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvante'
# What a run that failed half-way may have left; its uninstall entry too, or the installer
# would run the uninstaller it names, find it gone, and wait on its message that says so.
rm -rf "$installed" "$menu"
wine reg delete "$uninstall_key" /f >/dev/null || true

wine "$setup" /S || fail "the silent install failed"
for file in bin/orvante.exe bin/orvante-cli.exe bin/LICENSE.txt Uninstall.exe; do
    [ -f "$installed/$file" ] || fail "the installer did not put $file under Program Files\\Orvante"
done
[ -f "$shortcut" ] || fail "no Start-menu shortcut for the console"
[ -f "$demo_shortcut" ] || fail "no Start-menu shortcut Orvante（虚拟模块）beside Orvante"
# A shortcut keeps its arguments as UTF-16LE text: "--demo" is 2d00 2d00 6400 6500 6d00 6f00.
od -An -tx1 -v "$demo_shortcut" | tr -d ' \n' | grep -q 2d002d00640065006d006f00 ||
    fail "the shortcut Orvante（虚拟模块）does not start the console with --demo"
wine reg query "$uninstall_key" >/dev/null || fail "no uninstall entry"
for program in orvante orvante-cli; do
    wine "$installed/bin/$program.exe" --version | tr -d '\r' | grep -qx "$program $version" ||
        fail "the installed $program.exe does not run"
done

# The uninstaller copies itself away and returns at once unless told where it is (_?=),
# which it must be told without quotes: from a batch file.
printf '"C:\\Program Files\\Orvante\\Uninstall.exe" /S _?=C:\\Program Files\\Orvante\r\n' \
    >"$work/uninstall.bat"
wine cmd /c "$(printf 'Z:%s' "$work/uninstall.bat" | tr / '\\')" >/dev/null ||
    fail "the uninstaller failed"
for file in bin/orvante.exe bin/orvante-cli.exe bin/LICENSE.txt; do
    [ ! -e "$installed/$file" ] || fail "the uninstaller left $file"
done
[ ! -e "$shortcut" ] || fail "the uninstaller left the Start-menu shortcut"
[ ! -e "$demo_shortcut" ] || fail "the uninstaller left the shortcut Orvante（虚拟模块）"
! wine reg query "$uninstall_key" >/dev/null || fail "the uninstaller left its registry entry"
rm -rf "$installed"  # the uninstaller itself, which cannot remove itself when told _?=
echo "installed, ran and uninstalled: $setup"
