# Sourced by the other scripts: makes sure the build tools are there.
# Usage: need_packages PKG... ; installs them with apt when run as root,
# otherwise prints the exact install line and stops.
need_packages() {
    missing=""
    for pkg in "$@"; do
        case "$pkg" in
            cmake) command -v cmake >/dev/null 2>&1 || missing="$missing cmake" ;;
            g++) command -v g++ >/dev/null 2>&1 || missing="$missing g++" ;;
            make) command -v make >/dev/null 2>&1 || missing="$missing make" ;;
            libgtest-dev) [ -f /usr/include/gtest/gtest.h ] || missing="$missing libgtest-dev" ;;
            *) dpkg -s "$pkg" >/dev/null 2>&1 || missing="$missing $pkg" ;;
        esac
    done
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
        echo "Installing build packages:$missing"
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing || exit 1
    else
        echo "Missing build packages. Install them with:"
        echo "  sudo apt-get install -y$missing"
        exit 1
    fi
}
