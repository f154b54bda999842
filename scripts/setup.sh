#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages the launcher needs to build, run and be tested, where missing.
set -euo pipefail
packages=(cmake make g++ qt6-base-dev qt6-base-dev-tools libgl-dev libglx-dev
          clang-format xvfb xauth imagemagick fonts-dejavu-core
          openmpi-bin libopenmpi-dev
          desktop-file-utils appstream xdg-utils shared-mime-info libfile-mimeinfo-perl
          libqt6sql6-sqlite sqlite3
          openssh-client openssh-server slurm-wlm munge dbus-daemon
          lintian dpkg-dev file)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
        || missing+=("$package")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
