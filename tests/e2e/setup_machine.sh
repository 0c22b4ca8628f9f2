#!/bin/sh
# Prepares a Debian 12 machine for the end-to-end tests: Wine (32-bit), Xvfb,
# ImageMagick and the mingw-w64 i686 compiler. Run as root; safe to run again.
#
# Where the kernel cannot run 32-bit x86 programs itself (some virtual
# machines give no 32-bit compatibility mode), the 32-bit Wine runs under
# qemu's user-mode emulator: this script then registers qemu-i386 for 32-bit
# x86 executables with binfmt_misc. Wine's preloader is needed there for
# Wine to reserve its fixed addresses, so it is installed in every case.
set -eu

need=""
for pair in wine:wine wine32:i386:/usr/lib/wine/wine wine32-preloader:i386:/usr/lib/wine/wine-preloader \
            wine64:/usr/lib/wine/wineserver64 xvfb:Xvfb imagemagick:import \
            g++-mingw-w64-i686:i686-w64-mingw32-g++ qemu-user-static:qemu-i386-static; do
    file=${pair##*:}
    package=${pair%:*}
    if ! command -v "$file" >/dev/null 2>&1 && [ ! -x "$file" ]; then
        need="$need $package"
    fi
done

if [ -n "$need" ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q $need
fi

# Can this kernel run a 32-bit x86 program? Wine's own loader is one.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    fi
    if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
        # ELF, 32-bit, little-endian, executable or shared object, machine 3 (i386).
        printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
            > /proc/sys/fs/binfmt_misc/register
    fi
    /usr/lib/wine/wine --version >/dev/null
fi
echo "e2e machine ready: $(wine --version)"
