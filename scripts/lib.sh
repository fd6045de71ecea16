# Shared steps of the project's scripts: installing what a fresh Debian
# machine lacks, building, and preparing Wine. Sourced, not run.

REPO_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Debian packages the build, the tests and the run need.
REQUIRED_PACKAGES="g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth xdotool imagemagick fonts-wine
cmake ninja-build googletest gcc libx11-dev python3 ntfs-3g sleuthkit zip coreutils psmisc"

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

# Configures the given preset into the given folder and builds it, or only
# the targets named after the folder.
build_preset() {
    local preset="$1" build_dir="$2"
    shift 2
    cmake --preset "$preset" -B "$build_dir" >/dev/null
    if [ "$#" -gt 0 ]; then
        cmake --build "$build_dir" --target "$@"
    else
        cmake --build "$build_dir"
    fi
}

# Exports the Wine environment of a build folder's own prefix.
wine_environment() {
    export WINEPREFIX="$1/wineprefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
}

# Creates the build folder's Wine prefix once. Without a window manager Wine
# stalls about two seconds on every hide or destroy of a shown window unless
# its windows are unmanaged, nothing may ever start a browser, and a crash
# must end the program rather than wait in a debugger.
prepare_wine_prefix() {
    wine_environment "$1"
    [ -f "$WINEPREFIX/.tarnwick-ready" ] && return 0
    echo "Preparing Wine prefix in $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /t REG_SZ /d '' /f >/dev/null 2>&1
    # A program that crashes ends at once, with its exit code, instead of
    # waiting in a debugger that nobody answers.
    wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1
    wineserver -w
    # The caption buttons' glyphs come from Marlett.
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    touch "$WINEPREFIX/.tarnwick-ready"
}

# Runs CTest over a build folder inside the current (virtual) display, with
# one warm Wine process kept alive for the whole run and the wineserver shut
# down afterwards. Returns CTest's status; CTest's summary stays the last output.
run_ctest_under_wine() {
    local build_dir="$1"
    wine_environment "$build_dir"
    start_warm_wine "$build_dir"
    local status=0
    ctest --test-dir "$build_dir" -j2 --output-on-failure || status=$?
    wineserver -k >/dev/null 2>&1 || true
    wait 2>/dev/null || true
    return "$status"
}

# Starts the wineserver and Wine's desktop and services with no terminal or
# pipe attached, and waits until they are up. Whichever process starts them
# otherwise lends them its output: if that is a test, CTest waits for a pipe
# that the long-lived wineserver never closes. The keep-alive opens a named
# pipe once they are up, which ends the wait; the deadline only turns a hang
# into a message.
start_warm_wine() {
    local build_dir="$1"
    local ready="$build_dir/wine-keepalive.ready"
    rm -f "$ready" && mkfifo "$ready" || return 1
    wineserver -p </dev/null >/dev/null 2>&1
    wine "$build_dir/wine_keepalive.exe" "Z:${ready//\//\\}" </dev/null >/dev/null 2>&1 &
    timeout 60 cat "$ready" >/dev/null && rm -f "$ready" && return 0
    echo "Wine did not come up within a minute" >&2
    return 1
}

# Makes the programs started from now on in the current Wine prefix see a
# display of $1 DPI (Wine reads the value when a program starts).
set_wine_dpi() {
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}

# Switches the Wine environment to a new prefix beside the one of build
# folder $1, whose programs see a display of $2 DPI. It shares that prefix's
# C: drive but has a registry, and so a wineserver and a display, of its
# own: the build's prefix and the tests using it stay at 96 DPI on theirs.
enter_private_wine_prefix() {
    local shared="$1/wineprefix"
    wine_environment "$1"
    WINEPREFIX="$(mktemp -d "$1/wineprefix-private.XXXXXX")" &&
        cp -a "$shared"/*.reg "$shared/.update-timestamp" "$shared/dosdevices" "$WINEPREFIX/" &&
        ln -s "$shared/drive_c" "$WINEPREFIX/drive_c" &&
        set_wine_dpi "$2"
}

# Ends every program of the private prefix, its wineserver with them, and
# removes the prefix; does nothing in any other prefix, or a second time.
leave_private_wine_prefix() {
    case "$WINEPREFIX" in
    */wineprefix-private.*) [ ! -d "$WINEPREFIX" ] || { wineserver -k; wineserver -w; rm -rf "$WINEPREFIX"; } ;;
    esac
}

# Starts the program at $3 DPI in the current display, drops a few sample
# files on it, saves a PNG of its main window once the list shows them, and
# closes it through File > Exit.
screenshot_main_window() {
    local build_dir="$1" screenshot="$2" dpi="$3" window program
    enter_private_wine_prefix "$build_dir" "$dpi" || { leave_private_wine_prefix; return 1; }
    wine "$build_dir/TarnwickFileEraser.exe" >/dev/null 2>&1 &
    program=$!
    wine "$build_dir/window_rows.exe" 0 || echo "The window was not shown within a minute"
    window="$(xdotool search --onlyvisible --name '^Tarnwick File Eraser$' | head -n 1)"
    drop_sample_files "$window" "$build_dir" && wine "$build_dir/window_rows.exe" 3
    import -window "$window" "$screenshot"
    wine "$build_dir/window_rows.exe" exit
    wait "$program"
    leave_private_wine_prefix
    echo "Screenshot of the main window at $dpi DPI saved to $screenshot"
}

# Prints the path of the X11 drag-and-drop source scripts/tools/xdnd_drop.c,
# built into build folder $1.
xdnd_dropper() {
    local dropper="$1/e2e-tools/xdnd_drop"
    mkdir -p "$(dirname "$dropper")" &&
        gcc -std=c11 -D_DEFAULT_SOURCE -O2 -o "$dropper" "$REPO_DIR/scripts/tools/xdnd_drop.c" -lX11 &&
        echo "$dropper"
}

# Drops three sample files onto window $1 as a Linux file manager would, so
# the screenshot shows a list; returns non-zero when the drop did not happen.
drop_sample_files() {
    local window="$1" build_dir="$2" dropper
    local samples="$build_dir/e2e-tools/samples"
    dropper="$(xdnd_dropper "$build_dir")" || return 1
    rm -rf "$samples" && mkdir -p "$samples"
    printf 'quarterly figures\n' >"$samples/Quarterly report.docx"
    printf 'draft\n' >"$samples/Contract draft.pdf"
    printf 'keys\n' >"$samples/passwords.kdbx"
    "$dropper" "$window" "$samples/Quarterly report.docx" "$samples/Contract draft.pdf" "$samples/passwords.kdbx"
}
