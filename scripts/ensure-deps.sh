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
    wine wine64 wine32:i386
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
[ ${#missing[@]} -eq 0 ] && exit 0

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
