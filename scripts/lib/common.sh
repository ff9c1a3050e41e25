# Shared by scripts/run and scripts/test: the Debian packages Orvela needs, and the build.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD_DIR="${ORVELA_BUILD_DIR:-$ROOT/build}"

BUILD_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-declarative-dev qt6-svg-dev qcoro-qt6-dev libsecret-1-dev libicu-dev
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
  qml6-module-qtquick-window qml6-module-qtquick-templates qml6-module-qtqml-workerscript
  qml6-module-qttest libcpp-httplib-dev
  qt6-declarative-dev-tools qml6-module-qtqml qml6-module-qtqml-models
  libsqlite3-dev libmaxminddb-dev libboost1.81-dev libpq-dev
)
TEST_PACKAGES=(xvfb trayer xdotool imagemagick x11-utils dbus-x11 gnome-keyring fonts-noto-color-emoji chromium postgresql iproute2)
# Only scripts/package needs these: Debian's packaging tools, the checkers its --check runs on
# the packages, and systemd for systemd-sysusers and systemd-analyze.
PACKAGE_PACKAGES=(debhelper dpkg-dev lintian appstream desktop-file-utils systemd curl)
# Only scripts/fuzz (and so .ci/run) needs these: libFuzzer comes with clang.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# Only scripts/lint (and so .ci/run) needs these.
LINT_PACKAGES=(clang-format clang-tidy)
# Only scripts/measure-server needs these.
MEASURE_PACKAGES=(wrk sqlite3)

# Installs whatever of the given packages is missing; as non-root, says what to run instead.
install_packages() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Orvela needs these Debian packages, which are not installed:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    echo "Run that line (or run this script as root), then try again." >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # With recommends, as on the machines where the tests were seen to pass (fonts, D-Bus tools).
  apt-get install -y -qq "${missing[@]}"
}

# The build minifies the tracking script with npm tools (and the road tests drive Chromium from
# Node.js). A Node.js that came with its own npm is kept: Debian's npm would replace it.
install_node() {
  command -v node >/dev/null && command -v npm >/dev/null && return 0
  install_packages nodejs npm
}

# build_orvela [CMAKE_OPTION...]: configures BUILD_DIR with the options given, and builds it.
# Ninja, because under Make Qt's QML type registration and every compiled page are made again
# on each build, even when nothing changed.
build_orvela() {
  install_node
  local cache="$BUILD_DIR/CMakeCache.txt"
  if [ -f "$cache" ] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$cache"; then
    echo "Rebuilding $BUILD_DIR from scratch with Ninja."
    rm -rf "$cache" "$BUILD_DIR/CMakeFiles"
  fi
  cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$BUILD_DIR" -j2
}

# hermetic COMMAND...: runs COMMAND where only loopback exists, so nothing it starts can reach
# the network (or leak a DNS query). That needs root (CI runs as root); anyone else runs COMMAND
# as it is, and so does ORVELA_HERMETIC=0.
hermetic() {
  if [ "${ORVELA_HERMETIC:-1}" = 0 ] || [ "$(id -u)" -ne 0 ]; then
    "$@"
  elif command -v ip >/dev/null && unshare -n true 2>/dev/null; then
    unshare -n sh -c 'ip link set lo up && exec "$@"' sh "$@"
  else
    echo "No network namespace can be made here (unshare -n, ip): the tests run with the network." >&2
    "$@"
  fi
}
