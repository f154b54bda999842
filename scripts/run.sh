#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds and starts the launcher. Extra arguments go to the launcher
# (for example a .farbojob file). Without a display it runs under a virtual one,
# saves a screenshot to build/launcher.png and ends after a few seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
launcher=build/src/moltra-farbo-starter
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$launcher" "$@"
fi
echo "No display found: running the launcher under Xvfb and saving a screenshot to build/launcher.png"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$0" "${@}" & pid=$!
    sleep 4
    # The whole screen, as a person would see it: a question the launcher asks at start-up
    # is a window of its own, over the launcher.
    import -window root build/launcher.png
    kill "$pid"' "$launcher" "$@"
echo "Screenshot: build/launcher.png"
