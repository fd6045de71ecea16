# Shared steps of the project's scripts: installing what a fresh Debian
# machine lacks, building, and preparing Wine. Sourced, not run.

REPO_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Debian packages the build, the tests and the run need.
REQUIRED_PACKAGES="g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth xdotool imagemagick fonts-wine
cmake ninja-build googletest ntfs-3g sleuthkit zip coreutils"

# Installs whatever of REQUIRED_PACKAGES is missing.
ensure_packages() {
    local missing=""
    for package in $REQUIRED_PACKAGES; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing="$missing $package"
    done
    [ -z "$missing" ] && return 0
    echo "Installing:$missing"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}

# Configures and builds the given preset into the given folder.
build_preset() {
    local preset="$1" build_dir="$2"
    cmake --preset "$preset" -B "$build_dir" >/dev/null
    cmake --build "$build_dir"
}

# Exports the Wine environment of a build folder's own prefix.
wine_environment() {
    export WINEPREFIX="$1/wineprefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
}

# Creates the build folder's Wine prefix once. Without a window manager Wine
# stalls about two seconds on every hide or destroy of a shown window unless
# its windows are unmanaged, and nothing may ever start a browser.
prepare_wine_prefix() {
    wine_environment "$1"
    [ -f "$WINEPREFIX/.tarnwick-ready" ] && return 0
    echo "Preparing Wine prefix in $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /t REG_SZ /d '' /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.tarnwick-ready"
}
