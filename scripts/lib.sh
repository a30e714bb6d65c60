# Shared helpers for the set-up scripts: sourced, not run.

# Packages the build and the program need.
BUILD_PACKAGES="cmake g++ make ninja-build pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev
  libqt5sql5-sqlite libqt5sql5-odbc libqt5network5 libqt5svg5
  libxlsxwriter-dev libminizip-dev zlib1g-dev libshp-dev libsqlite3-dev unixodbc unixodbc-dev
  odbc-mariadb tdsodbc odbcinst fonts-dejavu-core xvfb xauth qttranslations5-l10n locales"

# What the tests need on top: real peers and independent readers, and the C library's symbols,
# by which a leak report names libc's own functions (tests/lsan.supp names one).
TEST_PACKAGES="mariadb-server mariadb-client openssl ca-certificates python3
  python3-openpyxl python3-dbfread python3-aiosmtpd sqlite3 xvfb xauth x11-utils libc6-dbg"

# The fuzz targets: clang with its libFuzzer and sanitizer runtimes.
FUZZ_PACKAGES="clang libclang-rt-14-dev"

# Runs a command as root: itself for root, through sudo for anyone else. Call it from the
# script's own shell only, never inside $(...), a pipeline or ( ): where sudo cannot name the
# terminal (a container's, or none), it remembers the password for the process that called it,
# and each of those is a process of its own, so the user would be asked again.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  else
    sudo "$@"
  fi
}

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
  echo "Installing: ${missing[*]}"
  apt_update
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -o DPkg::Lock::Timeout="$APT_LOCK_WAIT" "${missing[@]}"
}

# Seconds to wait for another package manager (an unattended upgrade, another terminal) to
# let go of apt's locks before giving up.
APT_LOCK_WAIT=600

# apt-get update, waiting while another package manager holds the package lists: unlike
# apt-get install, it does not wait for that lock itself. Its output goes through a file, not
# $(...), so that sudo asks from the script's own shell (as_root).
apt_update() {
  local waited=0 out
  out="$(mktemp)"
  while ! as_root env DEBIAN_FRONTEND=noninteractive LC_ALL=C apt-get update -qq >"$out" 2>&1; do
    if ! grep -q "Could not get lock" "$out" || [ "$waited" -ge "$APT_LOCK_WAIT" ]; then
      cat "$out" >&2
      rm -f "$out"
      return 1
    fi
    if [ "$waited" -eq 0 ]; then echo "Waiting for another package manager to finish"; fi
    sleep 5
    waited=$((waited + 5))
  done
  cat "$out"
  rm -f "$out"
}

# Makes sure the locale the program's users run, ru_RU.UTF-8, exists: the tests run in it.
ensure_russian_locale() {
  if locale -a 2>/dev/null | grep -qix 'ru_RU\.utf-\?8'; then
    return 0
  fi
  echo "Generating the locale ru_RU.UTF-8"
  as_root sed -i 's/^# *\(ru_RU\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  if ! grep -qx 'ru_RU.UTF-8 UTF-8' /etc/locale.gen; then
    as_root tee -a /etc/locale.gen <<<'ru_RU.UTF-8 UTF-8' >/dev/null
  fi
  as_root locale-gen >/dev/null
}

# Number of parallel build jobs.
build_jobs() {
  nproc 2>/dev/null || echo 2
}

# Number of tests run at once: more than the cores, since most tests wait for timers, peers and
# servers far longer than they compute (tests/CMakeLists.txt); twice the cores, and at most four
# more than the cores, as each test running takes up to 0.7 GB of memory with its servers.
test_jobs() {
  local cores
  cores="$(build_jobs)"
  echo $((cores < 4 ? 2 * cores : cores + 4))
}

# Registers the installed ODBC drivers under the names the program's connection strings ask
# for: MariaDB Connector/ODBC as "MySQL ODBC 5.3 Unicode Driver", FreeTDS as "SQL Server".
# A name that is registered already is left as it is, so running this again changes nothing.
# The drivers go into the system's odbcinst.ini, or into the folder ODBCSYSINI names.
register_odbc_drivers() {
  register_odbc_driver "MySQL ODBC 5.3 Unicode Driver" odbc-mariadb libmaodbc.so
  register_odbc_driver "SQL Server" tdsodbc libtdsodbc.so
}

# register_odbc_driver NAME PACKAGE DRIVER-LIBRARY
register_odbc_driver() {
  local name="$1" package="$2" library="$3"
  if odbcinst -q -d -n "$name" >/dev/null 2>&1; then
    return 0
  fi
  # The libraries' folder depends on the architecture: ask the package where it put them.
  local driver
  driver="$(dpkg-query -L "$package" 2>/dev/null | grep "/$library\$" | head -n 1 || true)"
  if [ -z "$driver" ]; then
    echo "ODBC driver \"$name\" not registered: $package does not provide $library" >&2
    return 1
  fi
  local entry
  entry="$(printf '[%s]\nDescription=%s (%s)\nDriver=%s\n' "$name" "$name" "$package" "$driver")"
  if [ -n "${ODBCSYSINI:-}" ]; then
    odbcinst -i -d -r <<<"$entry" >/dev/null
  else
    as_root odbcinst -i -d -r <<<"$entry" >/dev/null
  fi
  echo "Registered the ODBC driver \"$name\": $driver"
}
