#!/usr/bin/env bash
# The release's bytes depend on its source and toolchain alone. reprotest
# builds the release twice, the second time varying all it can (environment,
# build path, kernel, ASLR, CPU count, time, user and group, file order, host
# and domain name, home, locale, PATH, time zone, umask); the ZIP, its .sha256
# and the buildinfo must be the same bytes, or diffoscope's report of where
# they differ is printed. reprotest shuffles folder listings, which for a
# folder of two files may come out as before, so the release is then built
# once more on a disorderfs mount that lists every folder in reverse, and must
# give the control build's bytes again.
#     reproducible.sh CHECKOUT
# A variation that cannot be had here is named, with the reason.
set -euo pipefail
checkout=$1
build_user=console-threads-build  # made by scripts/test, as root
release=build/windows-x86-release
work=$(mktemp -d)
trap 'fusermount -u "$work/reversed" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"

# The checkout as it stands, with its uncommitted changes and its history
# (the buildinfo names the commit), but none of its builds.
mkdir source reversed
tar -C "$checkout" --exclude=./build -c . | tar -C source -x

variations=+all
if [ "$(id -u)" = 0 ] && id "$build_user" >/dev/null 2>&1; then
  variations+=",user_group.available+=$build_user:$build_user,domain_host.use_sudo=1"
else
  variations+=,-user_group
  echo "not varied: user_group, as it needs root and the user $build_user, which scripts/test makes"
fi
fuse=yes
command -v disorderfs >/dev/null && [ "$(stat -c %a /dev/fuse 2>/dev/null)" = 666 ] || fuse=
[ -n "$fuse" ] || variations+=,-fileordering
[ -n "$fuse" ] || echo "not varied: fileordering, nor built on a mount listing folders in" \
  "reverse, as disorderfs or a /dev/fuse open to all is missing"
# reprotest 0.7.23 (Debian 12) calls "sudo -h localhost", which sudo 1.9
# refuses for a command run as another user unless the machine's own name has
# localhost's address; reprotest runs here with its sudo command plain.
/usr/bin/python3 -c 'import sys, reprotest, reprotest.build; reprotest.build.SUDO = ["sudo"]
sys.exit(reprotest.main())' -v --store-dir store --variations="$variations" \
  --source-root source 'cmake --workflow --preset windows-x86-zip' \
  "$release/*.zip $release/*.zip.sha256 $release/*.buildinfo"
[ -n "$fuse" ] || exit 0

disorderfs -q --reverse-dirents=yes --shuffle-dirents=no source reversed
(cd reversed && cmake --workflow --preset windows-x86-zip) >reversed.log 2>&1 ||
  { cat reversed.log; exit 1; }
(cd store/control/source-root && sha256sum "$release"/*) >control.sha256
if ! (cd reversed && sha256sum --check --quiet ../control.sha256); then
  echo "built on a mount that lists folders in reverse, the release differs:"
  diffoscope "store/control/source-root/$release"/*.zip "reversed/$release"/*.zip
  exit 1
fi
echo "built on a mount that lists folders in reverse: the same bytes"
