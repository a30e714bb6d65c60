#!/usr/bin/env bash
# Installs what the program needs, builds it and starts it in a working folder
# (default: the current folder), on the SQLite database "data/measurement.db3".
#   scripts/run.sh [working-folder]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(dirname "$here")"
source "$here/lib.sh"

workdir="${1:-$PWD}"
install_packages $BUILD_PACKAGES

cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTRIVEL_TESTS=OFF >/dev/null
cmake --build "$top/build" -j "$(build_jobs)"

mkdir -p "$workdir"
cd "$workdir"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != "offscreen" ]; then
  cat >&2 <<MSG
No display is available: the program is a desktop application and needs one.
Run it on a desktop session, or under a virtual display, for example:
  xvfb-run -a -s "-screen 0 1280x1024x24" "$top/build/ostrivel"
(run from the working folder "$workdir").
MSG
  exit 1
fi
exec "$top/build/ostrivel"
