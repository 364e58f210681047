#!/usr/bin/env bash
# ctest fixture of the free-space test: drive Q: of the test prefix on a private 8 MB tmpfs,
# so that the drive's free bytes are exact and change only when a test writes there. Drive O:
# is a second name for the same tmpfs (one volume under two drive letters).
#   tmpfs-drive.sh up BUILD_DIR     mount it and map Q: (as root; otherwise do nothing, the test skips)
#   tmpfs-drive.sh down BUILD_DIR   unmap and unmount it
set -uo pipefail
action=${1:?usage: tmpfs-drive.sh up|down BUILD_DIR}
build=${2:?usage: tmpfs-drive.sh up|down BUILD_DIR}
prefix=${WINEPREFIX:-$build/wine}
mnt="$build/tmpfs-q"
link="$prefix/dosdevices/q:"
alias="$prefix/dosdevices/o:"

down() {
  rm -f "$link"
  [ "$(readlink "$alias" 2>/dev/null)" = "$mnt" ] && rm -f "$alias"
  if mountpoint -q "$mnt" 2>/dev/null; then umount "$mnt" || umount -l "$mnt"; fi
  rmdir "$mnt" 2>/dev/null || true
}

case "$action" in
  up)
    if [ "$(id -u)" != 0 ]; then
      echo "tmpfs drive: not root, the free-space test will be skipped"
      exit 0
    fi
    if [ -e "$link" ] && [ "$(readlink "$link")" != "$mnt" ]; then
      echo "tmpfs drive: $link is taken, the free-space test will be skipped"
      exit 0
    fi
    down
    mkdir -p "$mnt"
    mount -t tmpfs -o size=8m,mode=0777 tmpfs "$mnt" || { echo "tmpfs drive: mount failed"; exit 0; }
    ln -s "$mnt" "$link"
    [ -e "$alias" ] || [ -L "$alias" ] || ln -s "$mnt" "$alias"
    echo "tmpfs drive: Q: (and O:) is $mnt"
    ;;
  down)
    [ "$(readlink "$link" 2>/dev/null)" = "$mnt" ] || [ ! -e "$link" ] || exit 0
    down
    ;;
  *) echo "usage: tmpfs-drive.sh up|down BUILD_DIR" >&2; exit 2 ;;
esac
