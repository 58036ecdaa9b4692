# Shared by the scripts: the Wine prefix and server of a Windows build.
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
# The COM ports the Windows tests use; each is a virtual module's pseudo-terminal.
ORVANTE_WINE_PORTS=(5 6 8)

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
    for port in "${ORVANTE_WINE_PORTS[@]}"; do
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
    # A new server lists the ports (SERIALCOMM). It and the services of the first
    # program outlive the tests: started here, away from ctest's output pipes, which
    # they would otherwise hold open. The server writes to the terminal it takes over
    # when a pseudo-terminal's other side closes: its output goes nowhere.
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w >/dev/null 2>&1 || true
    LD_PRELOAD="$build/wine/modem_status_shim.so" setsid "$WINESERVER" -p </dev/null >/dev/null 2>&1
    LD_PRELOAD="$build/wine/modem_status_shim.so" "$WINE" cmd /c exit </dev/null >/dev/null 2>&1
}

stop_wine() {
    "$WINESERVER" -k >/dev/null 2>&1 || true
}
