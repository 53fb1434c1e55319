#!/usr/bin/env bash
# Tries the README's test command as a newcomer on a fresh machine would: it
# bootstraps a minimal root of a Debian release (debootstrap --variant=minbase,
# with only git and the certificates added), clones this repository's
# committed HEAD into it, runs scripts/test.sh there (which installs every
# package itself) and then scripts/package.sh. Prints how long each step took.
# Needs root (debootstrap, chroot, mounts) and the Debian archive. CI does not
# run it.
#
#   scripts/try-release.sh RELEASE [FOLDER]
#
# RELEASE is bookworm (Debian 12) or trixie (Debian 13); FOLDER is where the
# root is made, /var/tmp/orbivue-RELEASE unless given. A root left there by an
# earlier run is removed first; this run's root is kept for a look (chroot
# FOLDER) until the next run. Environment:
#   ORBIVUE_CACHE=DIR      keep the downloaded packages in DIR between runs (the
#                          root is still made afresh; only downloads are saved)
#   ORBIVUE_TRY_PACKAGE=0  run the test command only, not scripts/package.sh
#   DEBIAN_MIRROR=URL      the archive (default http://deb.debian.org/debian)
set -euo pipefail
cd "$(dirname "$0")/.."
release=${1:-}
case "$release" in
  bookworm | 12) release=bookworm ;;
  trixie | 13) release=trixie ;;
  *)
    echo "usage: scripts/try-release.sh bookworm|trixie [FOLDER]" >&2
    exit 2
    ;;
esac
if [ "$(id -u)" -ne 0 ]; then
  echo "try-release.sh needs root: debootstrap, chroot and mounts" >&2
  exit 2
fi
root=$(realpath -m "${2:-/var/tmp/orbivue-$release}")
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
command -v debootstrap >/dev/null || apt-get install -y -qq --no-install-recommends debootstrap
head=$(git rev-parse HEAD)
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "note: uncommitted changes are not tried, only HEAD $head"
fi

mounts=()
unmount_all() {
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" 2>/dev/null || true
  done
  mounts=()
}
mount_in_root() {
  local target=$root/$1
  shift
  mkdir -p "$target"
  mount "$@" "$target"
  mounts+=("$target")
}
trap unmount_all EXIT
trap "exit 130" INT TERM

# An earlier run's root goes, with anything still mounted inside it.
if [ -e "$root" ]; then
  for m in $( (grep -o " $root/[^ ]*" /proc/mounts || true) | sort -r); do umount -l "$m" || true; done
  # /tmp is the host's own, bound in: never remove through a mount.
  if grep -q " $root/" /proc/mounts; then
    echo "try-release.sh: $root still has mounts inside; not removing it" >&2
    exit 1
  fi
  rm -rf --one-file-system "$root"
fi
mkdir -p "$(dirname "$root")"

start=$SECONDS
step() { echo "== $1 (at $((SECONDS - start)) s)"; }
cache=()
if [ -n "${ORBIVUE_CACHE:-}" ]; then
  mkdir -p "$ORBIVUE_CACHE/debootstrap-$release" "$ORBIVUE_CACHE/apt-$release/partial"
  cache=(--cache-dir="$(realpath "$ORBIVUE_CACHE/debootstrap-$release")")
fi

step "debootstrap $release into $root"
log=$root.debootstrap.log
debootstrap --variant=minbase --include=git,ca-certificates "${cache[@]}" \
  "$release" "$root" "$mirror" >"$log" 2>&1 || { tail -20 "$log"; exit 1; }
rm -f "$log"
# The archive as a fresh installation has it: the release, its updates and
# the security archive.
security=${DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror $release main
deb $mirror $release-updates main
deb $security $release-security main
EOF
cp /etc/resolv.conf "$root/etc/resolv.conf"
# No services are started by the packages that the test command installs.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"

mount_in_root proc -t proc proc
mount_in_root sys -t sysfs sysfs
mount_in_root dev --bind /dev
mount_in_root dev/pts --bind /dev/pts
mount_in_root dev/shm -t tmpfs -o mode=1777,nosuid,nodev tmpfs
# The host's /tmp: Xvfb's sockets are also abstract ones, which a chroot does
# not separate, so xvfb-run -a must see the lock files of the displays that
# are already taken outside to choose a free one.
mount_in_root tmp --bind /tmp
if [ -n "${ORBIVUE_CACHE:-}" ]; then
  mount_in_root var/cache/apt/archives --bind "$ORBIVUE_CACHE/apt-$release"
fi

step "git clone of $head"
git clone -q --no-checkout --no-hardlinks "$(git rev-parse --path-format=absolute --git-common-dir)" \
  "$root/root/orbivue"
git -C "$root/root/orbivue" checkout -q --detach "$head"

in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd /root/orbivue && $1"
}
(. "$root/etc/os-release" && echo "release: $PRETTY_NAME")

step "scripts/test.sh"
t0=$SECONDS
in_root "scripts/test.sh"
test_time=$((SECONDS - t0))
package_time=-
if [ "${ORBIVUE_TRY_PACKAGE:-1}" != 0 ]; then
  step "scripts/package.sh"
  t0=$SECONDS
  in_root "scripts/package.sh"
  package_time=$((SECONDS - t0))
fi
step "done"
echo "$release: scripts/test.sh took $test_time s (with installing the packages)," \
  "scripts/package.sh $package_time s, all $((SECONDS - start)) s; root kept in $root"
