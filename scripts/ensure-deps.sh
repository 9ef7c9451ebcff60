#!/usr/bin/env bash
# Installs whatever the build and the tests need from Debian's packages: with
# apt-get when run as root, otherwise prints the command to run and stops.
set -euo pipefail

# libwine-dev carries the system IDL files (oaidl.idl) that widl imports;
# python3-pefile serves the binary checker; clang and its tools the second
# compiler, clang-tidy and the format check; wixl and msitools (msiinfo) the
# bench's installer package; osslsigncode and openssl a signed release and
# its check with a throwaway certificate.
packages=(
    g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-tools
    wine wine64 wine32:i386 wine32-preloader:i386
    libwine-dev googletest cmake make python3 python3-pefile
    clang lld clang-tidy clang-format
    wixl msitools osslsigncode openssl
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
I386_BINFMT=/proc/sys/fs/binfmt_misc/qemu-i386
i386_runs() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
enable_i386_emulation() {
    echo "This kernel does not run 32-bit programs: running them through qemu-user (slower)." >&2
    installed qemu-user-static || DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
        --no-install-recommends qemu-user-static
    [ -e /proc/sys/fs/binfmt_misc/register ] ||
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    [ -e "$I386_BINFMT" ] || printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
        > /proc/sys/fs/binfmt_misc/register
    i386_runs || { echo "32-bit programs still do not run" >&2; exit 1; }
}

if [ ${#missing[@]} -eq 0 ]; then
    i386_runs && exit 0
    [ "$(id -u)" -eq 0 ] || { echo "32-bit programs do not run here; run this script as root" >&2; exit 1; }
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
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
i386_runs || enable_i386_emulation
