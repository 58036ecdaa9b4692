# Shared by the scripts: the Wine prefix and server of a Windows build.
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
# The COM ports the Windows tests use; each is a virtual module's pseudo-terminal.
ORVANTE_WINE_PORTS=(5 6 8 9)
# The port of the virtual module that scripts/start --windows starts the console with.
ORVANTE_WINE_START_PORT=7

# build_windows [TARGET...]: what the Windows programs need from the Linux build (the
# virtual module, the shim Wine loads, the icons drawn by the window's own code), then
# the cross-build in build-windows/: everything, or the TARGETs named.
build_windows() {
    cmake -S . -B build -G Ninja >/dev/null
    cmake --build build --target orvante-sim wine_modem_status_shim orvante-render-icons
    mkdir -p build-windows/icons
    build/ui/qt/orvante-render-icons build-windows/icons
    cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
        -DORVANTE_LINUX_SIM="$PWD/build/bin/orvante-sim" -DORVANTE_ICON_DIR="$PWD/build-windows/icons" \
        >/dev/null
    cmake --build build-windows ${1:+--target "$@"}
}

# prepare_wine BUILD SHIM: a prefix in BUILD/wine (made once), the shim beside it, the
# test ports in its registry, and a running server. Exports what the tests need.
prepare_wine() {
    local build="$1" shim="$2"
    export WINEPREFIX="$build/wine/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # The virtual modules publish their ports here, where the registry points.
    export XDG_RUNTIME_DIR="$build/wine/runtime"
    mkdir -p "$build/wine" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    cp "$shim" "$build/wine/modem_status_shim.so"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Making the Wine prefix (once)"
        "$WINE" wineboot --init </dev/null >/dev/null 2>&1
    fi
    local ports="$XDG_RUNTIME_DIR/orvante/ports" port
    for port in "${ORVANTE_WINE_PORTS[@]}" "$ORVANTE_WINE_START_PORT"; do
        "$WINE" reg add 'HKLM\Software\Wine\Ports' /v "COM$port" /d "$ports/COM$port" /f \
            </dev/null >/dev/null 2>&1
        ln -sfn "$ports/COM$port" "$WINEPREFIX/dosdevices/com$port"
    done
    # Windows are drawn on X when there is a display and made headless otherwise; the
    # window's font, 宋体, is WenQuanYi Micro Hei here (Wine's own stand-in has no Chinese).
    "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11,null /f </dev/null >/dev/null 2>&1
    LC_ALL=C.UTF-8 "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 宋体 /d "WenQuanYi Micro Hei" /f \
        </dev/null >/dev/null 2>&1
    "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /d "WenQuanYi Micro Hei" /f \
        </dev/null >/dev/null 2>&1
    # Wine draws the title bar's buttons with its Marlett font, which Debian's fonts-wine
    # has where this Wine does not look for it.
    cp -f /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    # On a display, the windows go on a desktop of Wine's own, which draws their frames
    # and title bars (an X display with no window manager has none).
    "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
    "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1200x900 /f \
        </dev/null >/dev/null 2>&1
    # A new server lists the ports (SERIALCOMM). It and the services of the first
    # program outlive the tests: started here, away from ctest's output pipes, which
    # they would otherwise hold open. The server writes to the terminal it takes over
    # when a pseudo-terminal's other side closes: its output goes nowhere.
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w >/dev/null 2>&1 || true
    LD_PRELOAD="$build/wine/modem_status_shim.so" setsid "$WINESERVER" -p </dev/null >/dev/null 2>&1
    LD_PRELOAD="$build/wine/modem_status_shim.so" "$WINE" cmd /c exit </dev/null >/dev/null 2>&1
}

# make_wine_locale BUILD: the zh_CN.UTF-8 locale in BUILD/locale (made once, so that the
# machine's own need not have it); prints the folder to give Wine as LOCPATH.
make_wine_locale() {
    local locales="$1/locale"
    mkdir -p "$locales"
    [ -d "$locales/zh_CN.UTF-8" ] || localedef -i zh_CN -f UTF-8 "$locales/zh_CN.UTF-8" >&2
    echo "$locales"
}

stop_wine() {
    "$WINESERVER" -k >/dev/null 2>&1 || true
}
