#!/usr/bin/env bash
# Installs what the program needs, builds it and starts it in a working folder
# (default: the current folder), on the SQLite database "data/measurement.db3".
#   scripts/run.sh [working-folder [Qt options...]]
# Without a display, Qt's VNC platform shows the program to TigerVNC's viewer:
#   scripts/run.sh ~/ostrivel -platform vnc:size=1700x1000:mmsize=450x265
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(dirname "$here")"
source "$here/lib.sh"

workdir="${1:-$PWD}"
if [ $# -gt 0 ]; then shift; fi
install_packages $BUILD_PACKAGES
# Its users run it under LANG=ru_RU.UTF-8, a locale a fresh machine may not have generated.
ensure_russian_locale
# The MySQL and SQL Server modes connect through these driver names.
register_odbc_drivers

cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTRIVEL_TESTS=OFF >/dev/null
# The program and the simulators that stand in for the hardware (README, "Connecting sensors"),
# no more, so that the window opens soon: the benchmarks build with `cmake --build build`, and
# with everything else in scripts/test.sh's build.
cmake --build "$top/build" -j "$(build_jobs)" --target ostrivel modemsim gatewaysim ostrivel_datagen

mkdir -p "$workdir"
cd "$workdir"
platform_given=""
for arg in "$@"; do
  if [ "$arg" = "-platform" ]; then platform_given=yes; fi
done
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ] \
  && [ -z "$platform_given" ]; then
  cat >&2 <<MSG
No display is available: the program is a desktop application and needs one.
Without one, start it on Qt's own VNC server and look at it with TigerVNC's viewer
(vncviewer, from Debian's tigervnc-viewer):
  $0 "$workdir" -platform vnc:size=1700x1000:mmsize=450x265
The viewer connects to port 5900 of this machine (add :port=N to the platform for another;
mmsize gives the screen a desktop's 96 dpi). Other viewers may not work: Qt's VNC server
crashes on a client that asks only for the raw or hextile encoding without setting its pixel
format.
That VNC server has no password and listens on every address: keep port 5900 closed to the
network and reach it through an SSH tunnel instead, for example on your own computer
  ssh -L 5900:localhost:5900 user@this-machine
then point the viewer at localhost:5900. No window has a title bar there: quit the program
with its menu, Ostrivel -> Выход.
MSG
  exit 1
fi
exec "$top/build/ostrivel" "$@"
