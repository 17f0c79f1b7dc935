# shellcheck shell=bash
# Bare Debian systems in folders, made with debootstrap, to run this checkout
# in as a newcomer's machine would. Sourced, as root and from the checkout's
# top, after scripts/packages.sh, by scripts/check-bare-machine and
# scripts/rebuild-release, which first call
#     bare_system_namespace "$0" "$@"
# That runs the script again in a mount namespace of its own whose mounts
# propagate nowhere: what it mounts in a system is never seen by the host,
# cannot reach the host's own mounts, and goes when the script ends. Then
#     fresh_system NAME RELEASE   $bare_work/NAME: a new copy of a minimal
#                                 RELEASE (bookworm, trixie: made once, kept
#                                 as a tarball) with git, this checkout's
#                                 HEAD cloned in /root/console_threads, and
#                                 its own proc, sys and a small /dev
#     in_system DIR COMMAND...    runs COMMAND there, in a login's clean
#                                 environment
#     remove_system DIR           ends the processes running in it, unmounts
#                                 what is mounted in it, and deletes it; it
#                                 refuses while anything is still mounted
#                                 below it, and never crosses into another
#                                 file system
# A system's apt sources are this machine's Debian mirror, with the
# release's main and updates suites only, from its first package: the
# mirror's i386 security index is often older than its amd64 one.

bare_work=$(realpath -m "${CONSOLE_THREADS_BARE_DIR:-/var/tmp/console_threads-bare}")
source_dir=$PWD

bare_system_namespace() {  # script args...: run the script again in a namespace of its own
  [ -z "${BARE_SYSTEM_NAMESPACE:-}" ] || return 0
  [ "$(id -u)" = 0 ] || { echo "$(basename "$1"): run this as root" >&2; exit 1; }
  BARE_SYSTEM_NAMESPACE=1 exec unshare --mount --propagation private -- "$@"
}

debian_mirror() {  # this machine's Debian mirror, as its apt sources name it
  local mirror
  mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
    /etc/apt/sources.list.d/*.sources 2>/dev/null |
    grep -oE '^(deb( \[[^]]*\])?|URIs:) +[a-z]+://[^ ]+/debian/?( |$)' |
    grep -oE '[a-z]+://[^ ]+' | head -n 1)
  echo "${mirror:-http://deb.debian.org/debian}"
}

bare_system_tarball() {  # release: the path of its tarball, made if it is not there yet
  local release=$1 dir mirror
  local tarball=$bare_work/$release.tar
  if [ ! -f "$tarball" ]; then
    # shellcheck disable=SC2317 # ensure_packages calls it
    missing_packages() { have debootstrap || echo debootstrap; }
    ensure_packages >&2 || exit 1  # it says why
    mirror=$(debian_mirror)
    dir=$bare_work/debootstrap-$release
    remove_system "$dir"
    say "making a bare Debian $release from $mirror"
    debootstrap --variant=minbase --include=git,ca-certificates "$release" "$dir" "$mirror" \
      >"$bare_work/debootstrap-$release.log" 2>&1 ||
      { echo "debootstrap failed; see $bare_work/debootstrap-$release.log" >&2; exit 1; }
    printf 'deb %s %s main\ndeb %s %s-updates main\n' "$mirror" "$release" "$mirror" "$release" \
      >"$dir/etc/apt/sources.list"
    tar -C "$dir" -cf "$tarball.part" . && mv "$tarball.part" "$tarball"
    remove_system "$dir"
  fi
  echo "$tarball"
}

mounts_below() {  # dir: the mount points at or below it, deepest first
  awk -v dir="$1" '$5 == dir || index($5, dir "/") == 1 { print $5 }' /proc/self/mountinfo |
    sort -r
}

remove_system() {  # dir
  local dir=$1 process mount left
  [ -e "$dir" ] || return 0
  for process in /proc/[0-9]*; do
    [ "$(readlink "$process/root" 2>/dev/null)" != "$dir" ] || kill -KILL "${process#/proc/}" 2>/dev/null || true
  done
  while read -r mount; do
    umount "$mount" 2>/dev/null || true
  done < <(mounts_below "$dir")
  left=$(mounts_below "$dir" | xargs)
  if [ -n "$left" ]; then
    echo "not deleting $dir: still mounted below it: $left" >&2
    exit 1
  fi
  rm -rf --one-file-system "$dir"
}

fresh_system() {  # name release: a new copy of the bare release, set up as above
  local dir=$bare_work/$1 tarball node
  tarball=$(bare_system_tarball "$2")
  remove_system "$dir"
  mkdir -p "$dir"
  tar -C "$dir" -xf "$tarball"
  cp /etc/resolv.conf "$dir/etc/resolv.conf"
  git clone -q "$source_dir" "$dir/root/console_threads"
  # A mount of its own, so that its root is one, as a machine's is: a
  # namespace made in there (such as this script's own) needs that.
  mount --bind "$dir" "$dir"
  mount -t proc proc "$dir/proc"
  mount -t sysfs -o ro sysfs "$dir/sys"
  # A /dev of its own: the few devices that programs use, a terminal
  # multiplexer and shared memory of its own; none of the host's.
  mount -t tmpfs -o mode=755,nosuid dev "$dir/dev"
  for node in null:3 zero:5 full:7 random:8 urandom:9; do
    mknod -m 666 "$dir/dev/${node%:*}" c 1 "${node#*:}"
  done
  mknod -m 666 "$dir/dev/tty" c 5 0
  mkdir "$dir/dev/pts" "$dir/dev/shm"
  mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts "$dir/dev/pts"
  ln -s pts/ptmx "$dir/dev/ptmx"
  mount -t tmpfs -o nosuid,nodev shm "$dir/dev/shm"
  ln -s /proc/self/fd "$dir/dev/fd"
  for node in stdin:0 stdout:1 stderr:2; do ln -s "/proc/self/fd/${node#*:}" "$dir/dev/${node%:*}"; done
}

# Commands in a system get a clean environment, as a login would give them.
system_env=(/usr/bin/env -i HOME=/root TERM=xterm LANG=C.UTF-8
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin)

in_system() {  # dir command...
  local dir=$1
  shift
  chroot "$dir" "${system_env[@]}" "$@"
}
