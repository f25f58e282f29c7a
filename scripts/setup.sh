# Shared set-up for ./run.sh and ./test.sh: installs what is missing, then
# configures and builds incrementally. Sourced, not run.

ZOR_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

ZOR_PACKAGES="g++ cmake ninja-build pkg-config
  qtbase5-dev qtscript5-dev qtdeclarative5-dev qml-module-qtquick2 libqt5svg5-dev libqt5gamepad5-dev
  libqwt-qt5-dev libhidapi-dev libpython3.11 python3.11 p7zip-full qt5-style-plugins
  xvfb xauth imagemagick libxml2-utils unzip libarchive-dev"

zor_log() { printf '== %s\n' "$*" >&2; }

zor_install_packages() {
  local missing=()
  for p in $ZOR_PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  # Node.js and npm may come from elsewhere than Debian's packages: test the commands.
  command -v node >/dev/null 2>&1 || missing+=(nodejs)
  command -v npm >/dev/null 2>&1 || missing+=(npm)
  [ ${#missing[@]} -eq 0 ] && return 0
  zor_log "installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The simulated CAN gateway and its CANopen nodes run on Node.js; their npm
# packages are pinned in the committed package-lock.json.
zor_install_npm() {
  local dir="$ZOR_ROOT/tests/support/simgateway"
  [ -f "$dir/package-lock.json" ] || return 0
  if [ ! -d "$dir/node_modules" ] || [ "$dir/package-lock.json" -nt "$dir/node_modules/.stamp" ]; then
    zor_log "npm ci in tests/support/simgateway"
    (cd "$dir" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null) || return 1
    touch "$dir/node_modules/.stamp"
  fi
}

# zor_build <build-dir> [extra cmake args...]
# ZOR_TARGET names the one target to build (default: everything).
zor_build() {
  local dir="$1"; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$ZOR_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null || return 1
  fi
  local jobs
  # ZOR_JOBS caps the parallel compile jobs (a machine shared with other builds).
  jobs=${ZOR_JOBS:-$(nproc 2>/dev/null || echo 2)}
  cmake --build "$dir" -j "$jobs" ${ZOR_TARGET:+--target "$ZOR_TARGET"}
}
