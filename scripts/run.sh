#!/usr/bin/env bash
# Sets up, builds and starts Velmora. Extra arguments are option words, e.g.
#   scripts/run.sh -2 +3 #
# On a machine without a display it does the main job all the same: it writes
# tonight's programme (velmora-render) and its chart (velmora-plan --chart) to
# the current directory and says where.
#   scripts/run.sh --web [WORD...]
# builds the web site instead and serves it on http://localhost:PORT/ (PORT
# from VELMORA_PORT, default 8000), the words in the address.
set -euo pipefail
here=$(pwd)
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--web" ]; then
  shift
  scripts/setup.sh --web
  cmake --preset web >/dev/null
  cmake --build --preset web
  port=${VELMORA_PORT:-8000}
  query=$(/usr/bin/python3 -c 'import sys, urllib.parse
print("?words=" + urllib.parse.quote_plus(" ".join(sys.argv[1:])) if sys.argv[1:] else "")' "$@")
  echo "Velmora: http://localhost:$port/$query (Ctrl+C ends the server)"
  exec /usr/bin/python3 -m http.server "$port" --bind 127.0.0.1 --directory build/web/site
fi
scripts/setup.sh
cmake --preset default >/dev/null
# The programs alone: the tests and benchmarks are for scripts/test.sh.
cmake --build --preset default --target velmora velmora-plan velmora-render
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/default/velmora "$@"
fi
echo "No display: writing tonight's programme and its chart instead."
day=$(date -u +%F)
build/default/velmora-plan --chart "$here/velmora-$day.png" -- "$@" | sed -n '1,10p'
build/default/velmora-render --out "$here/velmora-$day.flac" -- "$@"
echo "Tonight's programme: $here/velmora-$day.flac"
echo "Its chart:           $here/velmora-$day.png"
