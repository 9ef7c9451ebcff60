#!/usr/bin/env bash
# Installs whatever the build and the tests need from Debian's packages: with
# apt-get when run as root, otherwise prints the command to run and stops.
set -euo pipefail

# libwine-dev carries the system IDL files (oaidl.idl) that widl imports;
# python3-pefile serves the binary checker; clang and its tools the second
# compiler, clang-tidy and the format check; wixl and msitools (msiinfo) the
# bench's installer package; osslsigncode and openssl a signed release and
# its check with a throwaway certificate; rapidjson-dev (header-only) the
# summary program's JSON reader; chromium and poppler-utils (pdftotext) render
# the summary's page on the bench and read it back.
packages=(
    g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-tools
    wine wine64 wine32:i386 wine32-preloader:i386
    libwine-dev googletest cmake make python3 python3-pefile
    clang lld clang-tidy clang-format
    wixl msitools osslsigncode openssl rapidjson-dev chromium poppler-utils
)

installed() {
    [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

missing=()
for package in "${packages[@]}"; do
    installed "$package" || missing+=("$package")
done

# Wine runs 32-bit Windows programs through its 32-bit loader, a 32-bit Linux
# program. Some kernels refuse those (32-bit emulation switched off); there
# qemu-user runs them, registered with binfmt_misc for i386 executables.
# Emulators older than 10 kill or hang Wine's 32-bit processes too often to
# run the whole proof, so at least that version is installed: from the
# release's own archive where it has one, otherwise from that release's
# backports suite, for this one package.
# (The Wine loader and the binfmt entry can be pointed elsewhere by the
# script's own test.)
I386_BINFMT=${VIREO_I386_BINFMT:-/proc/sys/fs/binfmt_misc/qemu-i386}
WINE_LOADER32=${VIREO_WINE_LOADER32:-/usr/lib/wine/wine}
QEMU_MINIMUM=1:10
QEMU=/usr/bin/qemu-i386-static
i386_runs() { "$WINE_LOADER32" --version >/dev/null 2>&1; }
i386_emulated() { [ -e "$I386_BINFMT" ]; }

version_at_least_minimum() { [ -n "$1" ] && dpkg --compare-versions "$1" ge "$QEMU_MINIMUM"; }
installed_qemu_is_current() {
    version_at_least_minimum "$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null)"
}
apt_install() { DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"; }
release_codename() { (. /etc/os-release && echo "${VERSION_CODENAME:-}"); }

# A package mirror in the middle of a sync serves an index whose size or hash
# does not match its Release file for a while. apt-get update is tried again
# after a pause; when an index still fails, the run goes on with what the
# lists hold, and says which index failed.
UPDATE_TRIES=3
UPDATE_PAUSE=20
apt_update() {
    local try output
    output=$(mktemp)
    for ((try = 1; try <= UPDATE_TRIES; try++)); do
        if apt-get update -q 2>&1 | tee "$output"; then
            rm -f "$output"
            return 0
        fi
        [ $try -lt $UPDATE_TRIES ] || break
        echo "apt-get update failed (try $try of $UPDATE_TRIES); trying again in $UPDATE_PAUSE s" >&2
        sleep "$UPDATE_PAUSE"
    done
    local failed
    failed=$(awk '/^E: Failed to fetch / { printf "%s%s", sep, $5; sep = " " }' "$output")
    rm -f "$output"
    echo "warning: apt-get update failed $UPDATE_TRIES times; going on without the index that failed:" \
        "${failed:-(apt named none)}" >&2
}

# apt-get install; when it fails (after a partial update the lists of one
# architecture can offer a newer version than the other's, which multiarch
# packages refuse), once more pinned to the release's own suite. When that
# fails too, apt's reason and the command to run by hand, and the script stops.
install_packages() {
    local output codename status=0
    output=$(mktemp)
    apt_install "$@" 2>&1 | tee "$output" && { rm -f "$output"; return 0; }
    codename=$(release_codename)
    if [ -n "$codename" ]; then
        echo "The install failed; trying once more pinned to the release's own suite, $codename" >&2
        apt_install -t "$codename" "$@" 2>&1 | tee "$output" || status=$?
    else
        status=1
    fi
    if [ $status -eq 0 ]; then
        rm -f "$output"
        return 0
    fi
    echo "error: the packages could not be installed. apt said:" >&2
    grep '^E:' "$output" | sed 's/^/  /' >&2 || true
    rm -f "$output"
    echo "Install them by hand with:" >&2
    echo "  apt-get update && apt-get install -y --no-install-recommends${codename:+ -t $codename} $*" >&2
    exit 1
}

# The archive address this machine's own apt sources use for the release
# (one-line .list files, then deb822 .sources files).
release_archive() {
    local suite=$1 lists=() sources=()
    lists=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list)
    sources=(/etc/apt/sources.list.d/*.sources)
    {
        awk -v suite="$suite" '$1 == "deb" {
            i = 2
            if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
            if ($(i + 1) == suite) print $i
        }' "${lists[@]}" 2>/dev/null
        local file
        for file in "${sources[@]}"; do
            [ -f "$file" ] || continue
            awk -v suite="$suite" '
                function flush() { if (deb && found && uris != "") print uris; deb = found = 0; uris = "" }
                /^[[:space:]]*#/ { next }
                /^[[:space:]]*$/ { flush(); next }
                tolower($1) == "types:" { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
                tolower($1) == "uris:" { uris = $2 }
                tolower($1) == "suites:" { for (i = 2; i <= NF; i++) if ($i == suite) found = 1 }
                END { flush() }' "$file"
        done
    } | head -n 1
}

# From the backports suite of this release, through a source added for this
# install only: afterwards the machine's package sources are as they were.
install_qemu_from_backports() {
    local codename archive list=/etc/apt/sources.list.d/vireo-qemu-backports.list
    codename=$(release_codename)
    archive=$(release_archive "$codename")
    if [ -z "$codename" ] || [ -z "$archive" ]; then
        echo "no archive for ${codename:-this release} in the apt sources; cannot add its backports" >&2
        exit 1
    fi
    echo "Installing qemu-user-static from $codename-backports"
    echo "deb $archive $codename-backports main" >"$list"
    local status=0
    { apt_update && apt_install -t "$codename-backports" qemu-user-static; } || status=$?
    rm -f "$list"
    apt_update
    [ $status -eq 0 ] || exit $status
}

install_current_qemu() {
    installed_qemu_is_current && return 0
    apt_update
    if version_at_least_minimum "$(apt-cache policy qemu-user-static | awk '/Candidate:/ { print $2 }')"; then
        apt_install qemu-user-static
    else
        install_qemu_from_backports
    fi
    installed_qemu_is_current || { echo "qemu-user-static $QEMU_MINIMUM or newer could not be installed" >&2; exit 1; }
}

# The version of the emulator a registered entry runs. Its "F" flag keeps the
# interpreter file that was there when it was registered, so after an upgrade
# the entry still runs the old emulator until it is registered again.
# qemu-user prints its version and ends when QEMU_VERSION is set.
emulator_running_i386() { QEMU_VERSION=1 "$WINE_LOADER32" 2>/dev/null | head -n 1; }
emulator_installed() { "$QEMU" --version 2>/dev/null | head -n 1; }

register_i386_emulation() {
    [ -e /proc/sys/fs/binfmt_misc/register ] ||
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    if i386_emulated && [ "$(emulator_running_i386)" != "$(emulator_installed)" ]; then
        echo "Registering $QEMU again: the entry runs \"$(emulator_running_i386)\"" >&2
        echo -1 >"$I386_BINFMT"
    fi
    i386_emulated || printf '%s' ":qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$QEMU:F" \
        >/proc/sys/fs/binfmt_misc/register
    i386_runs || { echo "32-bit programs still do not run" >&2; exit 1; }
    echo "32-bit programs run through $(emulator_running_i386)" >&2
}

enable_i386_emulation() {
    echo "This kernel does not run 32-bit programs: running them through qemu-user (slower)." >&2
    install_current_qemu
    register_i386_emulation
}

if [ ${#missing[@]} -eq 0 ]; then
    # Natively nothing more to do; where the emulator runs them, it is kept
    # current and registered.
    i386_runs && ! i386_emulated && exit 0
    [ "$(id -u)" -eq 0 ] || {
        i386_runs && exit 0
        echo "32-bit programs do not run here; run this script as root" >&2
        exit 1
    }
    enable_i386_emulation
    exit 0
fi

needs_i386=no
dpkg --print-foreign-architectures | grep -qx i386 || needs_i386=yes

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them with:" >&2
    [ $needs_i386 = yes ] && echo "  sudo dpkg --add-architecture i386" >&2
    echo "  sudo apt-get update && sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
[ $needs_i386 = yes ] && dpkg --add-architecture i386
apt_update
install_packages "${missing[@]}"
i386_runs && ! i386_emulated || enable_i386_emulation
