#!/usr/bin/env bash
# CI job: the README's two commands on a machine where nothing is installed.
# Builds a minimal Debian 12 root (debootstrap --variant=minbase bookworm)
# from this machine's configured apt sources, copies a clean clone of the
# tree into it and runs, as root with a minimal environment (env -i, no
# TERM), the README's demo command and then its test command, exactly as
# the README writes them. Passes when the demo printed its accuracy and the
# tests ran the GNU Octave and Python suites. Run as root.
#   scripts/ci-fresh.sh             demo, then tests
#   scripts/ci-fresh.sh --reverse   tests, then demo
# QIR_FRESH_KEEP=1 keeps the root (its path is printed) for a look inside.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/ci-lib.sh
ci_need 'command -v debootstrap' debootstrap
ci_need 'command -v git' git
ci_install

order=(demo tests)
[ "${1:-}" = "--reverse" ] && order=(tests demo)

# The README's commands, as written there (indented code lines).
declare -A commands
commands[demo]=$(sed -n 's/^    \(bash scripts\/run-demo\.sh\)$/\1/p' README.md | head -1)
commands[tests]=$(sed -n 's/^    \(bash scripts\/run-tests\.sh\)$/\1/p' README.md | head -1)
for step in demo tests; do
  if [ -z "${commands[$step]}" ]; then
    echo "fresh job: README.md no longer has the $step command this job runs" >&2
    exit 1
  fi
done

# The mirror of bookworm's main archive in this machine's apt sources, in
# either format (one-line .list, deb822 .sources).
apt_mirror() {
  local file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    awk '$1 == "deb" && / bookworm( |$)/ {
           for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) { print $i; exit } }' "$file"
  done
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk 'BEGIN { RS = "" }
         /(^|\n)Types:[^\n]*deb( |\n|$)/ && /(^|\n)Suites:[^\n]* bookworm( |\n|$)/ {
           if (match($0, /(^|\n)URIs:[ \t]*[^ \t\n]+/)) {
             uri = substr($0, RSTART, RLENGTH); sub(/^\n?URIs:[ \t]*/, "", uri); print uri; exit } }' "$file"
  done
}
mirror=$(apt_mirror | head -1)
if [ -z "$mirror" ]; then
  echo "fresh job: no bookworm source in /etc/apt/sources.list*" >&2
  exit 1
fi

root=$(mktemp -d /var/tmp/qir-fresh.XXXXXX)
chmod 755 "$root"   # the root's /: apt's own user must get through it
mounted=()
# Ends what still runs inside the root, unmounts everything mounted there
# (innermost first) and removes the root; on every exit, failures included.
cleanup() {
  local status=$? pid target left
  # Tidying up decides nothing: the commands' outcome is the job's.
  set +e
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$root" ] && kill -KILL "$pid" 2>/dev/null
  done
  # Killed processes may still hold the mounts and write files for a moment.
  for _ in $(seq 50); do
    left=0
    for pid in $(ls /proc | grep -E '^[0-9]+$'); do
      [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$root" ] && left=1 && break
    done
    [ "$left" = 0 ] && break
    sleep 0.2
  done
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    target=${mounted[i]}
    umount "$target" 2>/dev/null || umount --lazy "$target" ||
      echo "fresh job: could not unmount $target" >&2
  done
  if grep -qF " $root/" /proc/self/mounts; then
    echo "fresh job: mounts remain under $root; it is left in place" >&2
  elif [ "${QIR_FRESH_KEEP:-}" = 1 ]; then
    echo "fresh job: root kept in $root"
  else
    rm -rf --one-file-system "$root" || echo "fresh job: could not remove all of $root" >&2
  fi
  rm -f "$root.debootstrap.log"
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mount_in_root() {  # mount_in_root TARGET MOUNT-ARGUMENTS...
  local target=$root$1
  shift
  mkdir -p "$target"
  mount "$@" "$target"
  mounted+=("$target")
}

start=$SECONDS
echo "fresh job: debootstrap --variant=minbase bookworm from $mirror"
debootstrap --variant=minbase bookworm "$root" "$mirror" > "$root.debootstrap.log" 2>&1 || {
  tail -20 "$root.debootstrap.log" >&2
  exit 1
}
rm -f "$root.debootstrap.log"
echo "fresh job: root made in $((SECONDS - start)) s"

# The machine's apt sources and name resolution; nothing else of the host.
rm -f "$root/etc/apt/sources.list"
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -f "$file" ] && cp "$file" "$root$file"
done
cp /etc/resolv.conf "$root/etc/resolv.conf"

mount_in_root /proc -t proc proc
mount_in_root /sys -t sysfs sysfs
mount_in_root /dev --bind /dev
# Pseudo-terminals (the Ctrl-C test) and shared memory (Python's process pools).
mount_in_root /dev/pts --bind /dev/pts
mount_in_root /dev/shm -t tmpfs tmpfs

git clone --quiet "$PWD" "$root/root/qir"
git -C "$root/root/qir" checkout --quiet "$(git rev-parse HEAD)"

declare -A seconds
for step in "${order[@]}"; do
  echo "fresh job: ${commands[$step]}"
  begin=$SECONDS
  log=$root/root/$step.log
  # A login's PATH and HOME, nothing else. A hang fails the job well before
  # CI's own limit.
  if ! timeout --kill-after=30 2400 chroot "$root" /usr/bin/env -i \
       PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
       /bin/bash -c "cd /root/qir && ${commands[$step]}" > "$log" 2>&1; then
    tail -60 "$log"
    # A failed test's own output sits far above the tail: each one in full.
    awk '/\*\*\*(Failed|Timeout|Exception)|\(Failed\)/ && !/^[[:space:]]+[0-9]+ - / {show = 150}
         show > 0 {print; show--}' "$log" | head -600
    echo "fresh job: '${commands[$step]}' failed in the fresh root" >&2
    exit 1
  fi
  seconds[$step]=$((SECONDS - begin))
  echo "fresh job: '${commands[$step]}' took ${seconds[$step]} s"
done

# What the commands must have done.
demo_log=$root/root/demo.log
tests_log=$root/root/tests.log
if ! accuracy=$(grep -m1 '^Accuracy: [0-9.]*%' "$demo_log"); then
  tail -30 "$demo_log"
  echo "fresh job: the demo printed no accuracy" >&2
  exit 1
fi
for suite in "GNU Octave" "Python"; do
  if ! grep -qE "^$suite tests: [1-9][0-9]* of [1-9][0-9]* passed" "$tests_log"; then
    echo "fresh job: the tests did not run the $suite suite" >&2
    exit 1
  fi
done
echo "fresh job: demo: $accuracy"
grep -E "^(GNU Octave|Python) tests: |tests passed" "$tests_log" | sed 's/^/fresh job: /'
echo "fresh job: ${order[*]} passed; demo ${seconds[demo]} s, tests ${seconds[tests]} s," \
     "$((SECONDS - start)) s in all"
