# Shared by the scripts: package installation and the CMake build.

# Debian packages the build, the tests and the window need (with the man pages, the
# desktop entry's check and the .deb's dependencies).
ORVANTE_PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-translations-l10n libcli11-dev nlohmann-json3-dev fonts-wqy-microhei
    help2man desktop-file-utils dpkg-dev file libmosquitto-dev mosquitto openssl)
# What the Windows build adds: the cross-compiler, Wine to run its programs with the
# fonts it draws title bars and boxes with, GoogleTest's sources to build for Windows,
# the locale definitions scripts/start --windows makes its Chinese locale from, and
# makensis for the installer.
ORVANTE_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine64 fonts-wine googletest locales nsis)

install_missing_packages() {
    local missing=()
    for package in "${ORVANTE_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "Please install as root: ${missing[*]}" >&2; exit 1; }
        sudo="sudo"
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

configure_and_build() {
    local dir="$1"
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir"
}
