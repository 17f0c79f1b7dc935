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
mounted=
trap '[ -z "$mounted" ] || fusermount -u "$work/reversed"; rm -rf "$work"' EXIT

# The checkout as it stands, with its uncommitted changes and its history
# (the buildinfo names the commit), but none of its builds.
mkdir "$work/source" "$work/bin"
tar -C "$checkout" --exclude=./build -c . | tar -C "$work/source" -x
# reprotest 0.7.23 runs "sudo -h localhost", which sudo 1.9 refuses for
# anything but a listing; this sudo, first on PATH, leaves the host out.
# shellcheck disable=SC2016 # the $ are the wrapper's own
printf '#!/bin/sh\n[ "$1 $2" != "-h localhost" ] || shift 2\nexec /usr/bin/sudo "$@"\n' \
  >"$work/bin/sudo"
chmod +x "$work/bin/sudo"

variations=+all
not_had() {  # variation reason
  variations+=",-$1"
  echo "not varied: $1: $2"
}
if [ "$(id -u)" != 0 ] || ! id "$build_user" >/dev/null 2>&1; then
  not_had user_group "it needs root and the build user $build_user, which scripts/test makes"
else
  variations+=",user_group.available+=$build_user:$build_user,domain_host.use_sudo=1"
fi
fuse_usable() { command -v disorderfs >/dev/null && [ -r /dev/fuse ] && [ -w /dev/fuse ]; }
fuse_usable || not_had fileordering "disorderfs or a /dev/fuse open to all is missing"

cd "$work"
PATH="$work/bin:$PATH" reprotest -v --store-dir store --variations="$variations" \
  --source-root source 'cmake --workflow --preset windows-x86-zip' \
  "$release/*.zip $release/*.zip.sha256 $release/*.buildinfo"

if ! fuse_usable; then
  echo "not built: on a mount that lists folders in reverse, as FUSE cannot be had"
  exit 0
fi
mkdir reversed
disorderfs -q --reverse-dirents=yes --shuffle-dirents=no source reversed
mounted=1
(cd reversed && cmake --workflow --preset windows-x86-zip) >reversed.log 2>&1 ||
  { cat reversed.log; exit 1; }
for control in "store/control/source-root/$release"/*; do
  built=reversed/$release/${control##*/}
  if ! cmp -s "$control" "$built"; then
    echo "built with folders listed in reverse, ${control##*/} differs:"
    diffoscope "$control" "$built" || true
    exit 1
  fi
done
echo "built with folders listed in reverse: the same bytes"
