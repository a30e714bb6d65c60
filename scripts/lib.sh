# Shared helpers for the set-up scripts: sourced, not run.

# Packages the build and the program need.
BUILD_PACKAGES="cmake g++ make ninja-build pkg-config
  qtbase5-dev qtbase5-dev-tools qttools5-dev-tools libqt5serialport5-dev
  libqt5sql5-sqlite libqt5sql5-odbc libqt5network5 libqt5svg5
  libxlsxwriter-dev libminizip-dev zlib1g-dev libshp-dev unixodbc unixodbc-dev
  odbc-mariadb tdsodbc fonts-dejavu-core xvfb xauth"

# What the tests need on top: real peers and independent readers.
TEST_PACKAGES="mariadb-server mariadb-client openssl ca-certificates python3
  python3-openpyxl python3-dbfread python3-aiosmtpd sqlite3 xvfb xauth"

# The fuzz targets: clang with its libFuzzer and sanitizer runtimes.
FUZZ_PACKAGES="clang libclang-rt-14-dev"

# Installs the named Debian packages that are not installed yet.
install_packages() {
  local missing=()
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "Installing: ${missing[*]}"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Number of parallel build jobs.
build_jobs() {
  nproc 2>/dev/null || echo 2
}
