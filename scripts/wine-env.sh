# Sourced by the project's scripts: a hermetic Wine environment.
#   vireo_wine_env PREFIX [win64|win32]   export the variables for PREFIX
#   vireo_wine_boot                       create the prefix afresh
#   vireo_wine_stop                       end the prefix's wineserver
#   vireo_i386_emulated                   true when qemu-user runs Wine's 32-bit side

vireo_wine_env() {
    export WINEPREFIX="$1"
    export WINEARCH="${2:-win64}"
    export WINEDEBUG=-all
    # No Mono or Gecko installer dialogs in a fresh prefix.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY
}

vireo_wine_boot() {
    case "$WINEPREFIX" in
        ""|"$HOME/.wine"|"$HOME/.wine/") echo "refusing to use the default Wine prefix" >&2; return 1 ;;
    esac
    vireo_wine_stop
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # One server for the whole run, kept alive between processes. The
    # prefix is made by an update (-u): after "wineboot -i" two service
    # managers are left answering in turn, which breaks service look-ups
    # and COM activation at random. Bounded, so a hung one fails the run.
    wineserver -p >/dev/null 2>&1
    timeout 600 wineboot -u >/dev/null 2>&1 && return 0
    echo "wineboot failed or did not end within 600 s for $WINEPREFIX" >&2
    vireo_wine_stop
    return 1
}

vireo_wine_stop() {
    if [ -d "$WINEPREFIX" ]; then
        wineserver -k >/dev/null 2>&1 || true
    fi
}

# scripts/ensure-deps.sh registers qemu-user for 32-bit programs only on a
# kernel that refuses to run them itself.
vireo_i386_emulated() {
    grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386
}
