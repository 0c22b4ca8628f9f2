#!/usr/bin/env bash
# One entry for people and CI. Each command first installs what is missing
# (Debian packages; through sudo when not run as root), then builds.
#
#   ./build.sh demo   build loader.exe, stamp sample publications, run them under Wine
#   ./build.sh test   build everything and run every test through ctest
#   ./build.sh build  only build (host, win32, and what the Wine tests need)
#   ./build.sh fuzz [SECONDS]   a longer fuzz run of the blob unpacker
set -euo pipefail
cd "$(dirname "$0")"
top=$(pwd)

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

have_package() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

install_packages() {
    local packages=(cmake g++ make libgtest-dev libbenchmark-dev zlib1g-dev clang libclang-rt-14-dev
                    g++-mingw-w64-i686 python3)
    local missing=()
    for p in "${packages[@]}"; do have_package "$p" || missing+=("$p"); done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "installing: ${missing[*]}"
        as_root apt-get update -q
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
    fi
    # Wine, Xvfb and ImageMagick for the tests of the real program.
    as_root sh tests/e2e/setup_machine.sh
}

configure_and_build() {
    local preset=$1
    [ -f "build/$preset/CMakeCache.txt" ] || cmake --preset "$preset" > /dev/null
    cmake --build --preset "$preset" -j"$(nproc)"
}

build_all() {
    configure_and_build win32
    configure_and_build host
    configure_and_build fuzz
}

command=${1:-}
case "$command" in
    build)
        install_packages
        build_all
        ;;
    test)
        install_packages
        build_all
        ctest --test-dir build/host --output-on-failure
        ;;
    demo)
        install_packages
        build_all
        python3 tests/e2e/demo.py
        ;;
    fuzz)
        install_packages
        configure_and_build fuzz
        seconds=${2:-600}
        bash scripts/run_fuzz.sh "$top/build/fuzz" "$seconds"
        ;;
    *)
        echo "usage: $0 demo | test | build | fuzz [SECONDS]" >&2
        exit 2
        ;;
esac
