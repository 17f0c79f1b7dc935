# shellcheck shell=bash
# shellcheck disable=SC2016 # a hook's $1 and $BARE_SOURCE are the hook's own to expand
# Bare Debian systems, made with mmdebstrap, to run this checkout in as a
# newcomer's machine would. Sourced, as root and from the checkout's top,
# after scripts/packages.sh, by scripts/check-bare-machine and
# scripts/rebuild-release, which call
#     in_bare_system RELEASE LOG HOOK...
# That makes a new system of RELEASE (bookworm, trixie) from its tarball, a
# minimal system with git made once and kept in $bare_work, clones this
# checkout's HEAD into it at /root/console_threads, gives it what an
# installed machine has and a bare system lacks (this machine's name server,
# an /etc/hosts that names localhost and the machine, and the /etc/mtab that
# fusermount reads), and runs each HOOK in
# turn: a shell command, with the system's root in $1 (in_system, below,
# runs a command in there). The system is gone once they have run, or one of
# them has failed; all that was said goes to LOG. The system's apt sources
# are this machine's Debian mirror, with the release's main and updates
# suites only: the mirror's i386 security index is often older than its
# amd64 one.
#
# mmdebstrap runs in its unshare mode where namespaces can be made: run as
# root, that gives each system mount, PID, UTS and IPC namespaces of its own
# (no user namespace), so that what is mounted in there never reaches the
# host, and nothing started in there outlives it. Elsewhere, root mode.

bare_work=$(realpath -m "${CONSOLE_THREADS_BARE_DIR:-/var/tmp/console_threads-bare}")

debian_mirror() {  # this machine's Debian mirror, as its apt sources name it
  local mirror
  mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
    /etc/apt/sources.list.d/*.sources 2>/dev/null |
    grep -oE '^(deb( \[[^]]*\])?|URIs:) +[a-z]+://[^ ]+/debian/?( |$)' |
    grep -oE '[a-z]+://[^ ]+' | head -n 1)
  echo "${mirror:-http://deb.debian.org/debian}"
}

in_bare_system() {  # release log hook...
  local release=$1 log=$2 mode=root mirror hook
  local tarball=$bare_work/$release.tar hooks=()
  shift 2
  [ "$(id -u)" = 0 ] || { echo "run this as root" >&2; exit 1; }
  # shellcheck disable=SC2317 # ensure_packages calls it
  missing_packages() { have mmdebstrap || echo mmdebstrap; }
  ensure_packages >&2 || exit 1  # it says why
  mkdir -p "$bare_work"
  ! unshare --mount --pid --uts --ipc --fork true 2>/dev/null || mode=unshare
  mirror=$(debian_mirror)
  local sources=("deb $mirror $release main" "deb $mirror $release-updates main")
  if [ ! -f "$tarball" ]; then
    say "making a bare Debian $release from $mirror, in mmdebstrap's $mode mode"
    # Without its /dev: each system gets a /dev of its own from mmdebstrap.
    mmdebstrap --mode="$mode" --variant=minbase --include=git,ca-certificates --format=tar \
      "$release" - "${sources[@]}" 2>"$bare_work/mmdebstrap-$release.log" |
      mmtarfilter --path-exclude='/dev/*' >"$tarball.part" ||
      { echo "mmdebstrap failed; see $bare_work/mmdebstrap-$release.log" >&2; exit 1; }
    mv "$tarball.part" "$tarball"
  fi
  for hook in "$@"; do hooks+=(--customize-hook="$hook"); done
  BARE_SOURCE=$PWD mmdebstrap --mode="$mode" --variant=custom --skip=update \
    --setup-hook="tar-in $tarball /" \
    --customize-hook='cp /etc/resolv.conf "$1/etc/resolv.conf"' \
    --customize-hook='printf "127.0.0.1\tlocalhost\n127.0.1.1\t%s\n" "$(hostname)" >"$1/etc/hosts"' \
    --customize-hook='ln -sf ../proc/self/mounts "$1/etc/mtab"' \
    --customize-hook='git clone -q "$BARE_SOURCE" "$1/root/console_threads"' \
    "${hooks[@]}" "$release" /dev/null "${sources[@]}" >"$log" 2>&1
}

# A command for a hook, which sh runs: COMMAND... in the system, with a
# login's clean environment. Each word is quoted as sh quotes, in ''.
in_system() {  # command...
  local word line='chroot "$1"'
  for word in /usr/bin/env -i HOME=/root TERM=xterm LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"; do
    line+=" '${word//\'/\'\\\'\'}'"
  done
  printf '%s' "$line"
}
