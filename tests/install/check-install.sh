#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the launcher as a desktop application: its metadata validate, an install holds exactly
# the expected files, job files open in it by their type, and the Debian package holds the same
# files and passes lintian.  Usage: check-install.sh <source dir> <build dir>
set -euo pipefail
source_dir=$1
build_dir=$2
packaging=$source_dir/packaging
id=org.quillmoor.MoltraFarboStarter
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

desktop-file-validate "$packaging/$id.desktop"
appstreamcli validate --no-net "$packaging/$id.metainfo.xml"

prefix=$work/prefix
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
(cd "$prefix" && find . -type f | sed 's|^\./||' | sort) > "$work/installed.txt"
diff -u "$source_dir/tests/install/expected-files.txt" "$work/installed.txt" \
    || fail "the install does not hold the expected files"

# The desktop sees the install only: its own data folders point there.
export XDG_DATA_HOME=$work/home XDG_DATA_DIRS=$prefix/share XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"
update-mime-database "$prefix/share/mime"
update-desktop-database "$prefix/share/applications"
[ "$(xdg-mime query filetype "$source_dir/examples/mgo-bands.farbojob")" = application/x-farbojob ] \
    || fail "a job file is not application/x-farbojob"
[ "$(xdg-mime query filetype "$source_dir/examples/mgo.d12")" = text/x-moltra-deck ] \
    || fail "a deck is not text/x-moltra-deck"
[ "$(xdg-mime query default application/x-farbojob)" = "$id.desktop" ] \
    || fail "job files do not open in the launcher"

cpack --config "$build_dir/CPackConfig.cmake" -B "$work/package" >/dev/null
deb=$(ls "$work"/package/*.deb)
dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v '/$' | sed 's|^\./usr/||' | sort > "$work/packaged.txt"
diff -u "$source_dir/tests/install/expected-files.txt" "$work/packaged.txt" \
    || fail "the package does not hold the expected files"
# The SQLite driver is a plugin: nothing the libraries link says that it is needed.
dpkg-deb -f "$deb" Depends | grep -q 'libqt6sql6-sqlite' \
    || fail "the package does not depend on the SQLite driver"
lintian "$deb" 2>/dev/null | tee "$work/lintian.txt"
! grep -q '^E:' "$work/lintian.txt" || fail "lintian reports errors"
echo "install checks passed"
