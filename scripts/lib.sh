# Shared by scripts/run and scripts/test: install what is missing, configure and build.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

RUN_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libqt6svg6 libcurl4-openssl-dev libssl-dev libssh-dev ca-certificates
    libsquish-dev liblzo2-dev qt6-image-formats-plugins)
TEST_PACKAGES=(libbenchmark-dev libpugixml-dev clang libclang-rt-14-dev python3 python3-pyftpdlib python3-asyncssh libxml2-utils xsltproc
    proftpd-core proftpd-mod-crypto openssl openssh-client curl lintian appstream dpkg-dev file
    desktop-file-utils)
# What scripts/package needs besides RUN_PACKAGES: dpkg-buildflags, dpkg-shlibdeps and file.
PACKAGE_PACKAGES=(dpkg-dev file)

install_missing() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

configure_and_build() {
    local build_dir=$1
    shift
    cmake -S "$ROOT" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build "$build_dir"
}
