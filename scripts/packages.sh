# shellcheck shell=bash
# Installs the Debian packages that a script of ours needs, where it can: as
# root, with apt. Sourced by scripts/run and scripts/test, which each define
#     missing_packages ARGS...   print the packages still missing, one a line
# and then call
#     ensure_packages ARGS...    true once none is missing; else false, with
#                                one line on standard error that says why,
#                                kept in $packages_problem too
# apt never removes a package to make room (--no-remove), and a failed index
# update is tried again before the install goes ahead.

say() { printf '== %s\n' "$*" >&2; }

have() { command -v "$1" >/dev/null; }

installed() {  # package: is this Debian package installed?
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'
}

apt_log=build/apt.log
apt_update_tries=3
apt_updated=
packages_problem=

apt_update() {
  local attempt
  for ((attempt = 1; attempt <= apt_update_tries; attempt++)); do
    # apt-get update fails where an index could not be fetched, such as a
    # mirror caught mid-sync; a later try often finds it whole again.
    if apt-get update -q >"$apt_log.update" 2>&1; then
      break
    fi
    [ "$attempt" = "$apt_update_tries" ] || sleep $((attempt * 10))
  done
  apt_updated=1
}

apt_install() {  # [apt options] packages...
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends --no-remove \
    "$@" </dev/null >>"$apt_log" 2>&1
}

apt_reason() {  # apt's own words for why the install failed, in one line
  local broken failed_index
  broken=$(grep -m1 -E ' : (Depends|PreDepends|Breaks|Conflicts): |^E: ' "$apt_log" || true)
  failed_index=$(grep -m1 -E '^[WE]: Failed to fetch' "$apt_log.update" 2>/dev/null || true)
  broken=$(printf '%s' "${broken:-see $apt_log}" | sed -E 's/^ +//')
  if [ -n "$failed_index" ]; then
    broken="$broken (and apt-get update, tried $apt_update_tries times: $(printf '%s' "$failed_index" |
      sed -E 's/^[WE]: //; s/ *\[IP: [^]]*\]//'))"
  fi
  printf '%s\n' "$broken"
}

install_packages() {  # packages...
  mkdir -p build
  : >"$apt_log"
  say "installing $*"
  if printf '%s\n' "$@" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    apt_updated=
  fi
  [ -n "$apt_updated" ] || apt_update
  # Where one architecture's index of the security or updates suite could not
  # be fetched, amd64 and i386 disagree on a library's version and the i386
  # packages cannot be installed beside the amd64 ones; taking the release's
  # own suite first makes the two agree.
  apt_install "$@" || apt_install -t "$(. /etc/os-release && echo "$VERSION_CODENAME")" "$@"
}

ensure_packages() {  # args for missing_packages...
  local missing
  missing=$(missing_packages "$@" | xargs)
  [ -n "$missing" ] || return 0
  if [ "$(id -u)" != 0 ] || ! have apt-get; then
    packages_problem="missing: $missing; install these packages, or run this as root on a Debian or Ubuntu system to have them installed"
    echo "$packages_problem" >&2
    return 1
  fi
  # shellcheck disable=SC2086 # one word per package
  if ! install_packages $missing || [ -n "$(missing_packages "$@")" ]; then
    packages_problem="apt could not install $missing: $(apt_reason)"
    echo "$packages_problem" >&2
    return 1
  fi
}
