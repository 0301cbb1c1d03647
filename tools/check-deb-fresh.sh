#!/usr/bin/env bash
# Installs the Debian packages of `make package` (spinmap, libspinmap-dev,
# python3-spinmap) on a brand-new minimal Debian with apt-get, as a user
# would, and runs the programs there from the PATH and the Python module in
# the system's python3.
# The minimal Debian is a debootstrap chroot, made once and kept pristine in
# BASE (default /tmp/spinmap-fresh/base); each check runs in a copy of it.
# Needs root (debootstrap, chroot, bind mounts) and the Debian mirror.
# Usage: tools/check-deb-fresh.sh [DIST_DIR]
set -euo pipefail
dist=${1:-dist}
base=${SPINMAP_FRESH_BASE:-/tmp/spinmap-fresh/base}

if [ "$(id -u)" -ne 0 ]; then
  echo "check-deb-fresh needs root (debootstrap, chroot)" >&2
  exit 1
fi
shopt -s nullglob
debs=("$dist"/spinmap_*_*.deb "$dist"/libspinmap-dev_*_*.deb "$dist"/python3-spinmap_*_*.deb)
shopt -u nullglob
if [ ${#debs[@]} -ne 3 ]; then
  echo "expected the packages $dist/spinmap_*_*.deb, $dist/libspinmap-dev_*_*.deb and $dist/python3-spinmap_*_*.deb, found ${#debs[@]}: run make package" >&2
  exit 1
fi

# The pristine minimal Debian: what debootstrap makes, with the host's
# package sources and make (a newcomer's machine has nothing else).
if [ ! -f "$base/.ok" ]; then
  bash "$(dirname "$0")/needs.sh" debootstrap
  mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)
  rm -rf "$base"
  mkdir -p "$base"
  echo "== making a minimal Debian in $base"
  debootstrap --variant=minbase bookworm "$base" "$mirror" >"$base.log" 2>&1
  cp /etc/apt/sources.list.d/debian.sources "$base/etc/apt/sources.list.d/"
  rm -f "$base/etc/apt/sources.list"
  chroot "$base" bash -c 'apt-get update -qq && apt-get install -y -qq make' >>"$base.log" 2>&1
  touch "$base/.ok"
fi

root=$(mktemp -d "$(dirname "$base")/deb-check.XXXXXX")
# Removes the copy only once nothing is mounted in it any more, so that a
# failed unmount can never delete the host's /dev or /proc.
cleanup() {
  local mounted=false
  for dir in "$root/proc" "$root/dev"; do
    if mountpoint -q "$dir"; then umount "$dir" 2>/dev/null || umount -l "$dir" || true; fi
    if mountpoint -q "$dir"; then mounted=true; fi
  done
  if $mounted; then
    echo "still mounted below $root; not removed" >&2
  else
    rm -rf "$root"
  fi
}
trap cleanup EXIT
cp -a "$base/." "$root/"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
cp "${debs[@]}" "$root/root/"
deb_names="${debs[*]##*/}"
mount --bind /proc "$root/proc"
mount --bind /dev "$root/dev"

# The user's steps: install the file with apt-get, then run the programs
# from the PATH. The viewer is tried once the package has it.
check_script='
set -euo pipefail
cd /root
debs=$(for deb in '"$deb_names"'; do printf "./%s " "$deb"; done)
echo "== apt-get install $debs"
apt-get update -qq
apt-get install -y -qq $debs >/tmp/apt.log 2>&1 || { cat /tmp/apt.log; exit 1; }
dpkg-query -W -f="\${Package} \${Version} \${Status}\n" spinmap libspinmap-dev python3-spinmap
echo "== command -v spinmap spinmap-sample: $(command -v spinmap) $(command -v spinmap-sample)"
status=0
spinmap >/tmp/usage.txt || status=$?
echo "== spinmap (exit status $status):"
head -n 2 /tmp/usage.txt
if [ "$status" -ne 1 ] || [ "$(head -n 1 /tmp/usage.txt)" != Spinmap ]; then echo "no usage text" >&2; exit 1; fi
spinmap-sample -Camera 320x240 /tmp/sample.dat
echo "== spinmap -Angle 90 -NoInterp -Verbose /tmp/sample.dat /tmp/rotated.dat"
TZ=UTC spinmap -Angle 90 -NoInterp -Verbose /tmp/sample.dat /tmp/rotated.dat | sed -n "/^Output WindowX/,/^Output Points/p;/^Done/p"
test -s /tmp/rotated.dat
for page in /usr/share/man/man1/spinmap.1.gz /usr/share/man/man1/spinmap-sample.1.gz /usr/share/doc/spinmap/copyright \
    /usr/share/doc/libspinmap-dev/copyright /usr/include/spinmap/datafile/datafile.h; do
  test -f "$page"
done
echo "== spinmap-view /tmp/sample.dat /tmp/rotated.dat /tmp/picture.png"
spinmap-view /tmp/sample.dat /tmp/rotated.dat /tmp/picture.png
test -f /usr/share/man/man1/spinmap-view.1.gz
[ "$(head -c 4 /tmp/picture.png | od -An -tx1 | tr -d " ")" = 89504e47 ]
echo "== python3: spinmap.read(\"/tmp/rotated.dat\")"
python3 -c "import spinmap; m = spinmap.read(\"/tmp/rotated.dat\"); print(m, m.height_scale, \"nm per count\")"
echo "== the package installs and runs on a fresh machine"
'
chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin TERM=dumb \
  bash -c "$check_script" </dev/null
