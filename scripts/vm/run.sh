#!/usr/bin/env bash
# Runs a script inside a virtual machine that boots this machine's Debian kernel over this
# machine's own files: the guest sees the same programs and builds, read-only beneath a layer in
# memory, has a real ALSA sequencer (snd-seq-dummy) and runs 32-bit programs, which this machine's
# kernel may not. QEMU emulates the processor, so no virtualisation support is needed.
# Usage: scripts/vm/run.sh GUEST_SCRIPT SHARE_DIR [SECONDS]
#   GUEST_SCRIPT runs in the guest as root, in this folder, with the VM_* variables; SHARE_DIR (emptied first) is writable
#   from both sides at /vmshare in the guest. The guest's output ends up in SHARE_DIR/guest.log,
#   the console's in SHARE_DIR/console.log. Exit status: the guest script's, 124 when the guest
#   did not finish within SECONDS (default 900), 125 when the machine could not be started.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
script=$1 share=$2 seconds=${3:-900}

kernel=$(ls /boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1 || true)
if [ -z "$kernel" ] || ! command -v qemu-system-x86_64 >/dev/null || ! command -v busybox >/dev/null; then
  echo "vm: cannot start a virtual machine here: it needs qemu-system-x86_64, busybox and a kernel in /boot (linux-image-amd64)" >&2
  exit 125
fi
version=${kernel#/boot/vmlinuz-}
modules=/lib/modules/$version

# The initramfs holds busybox and just what mounting the shared root needs.
vmdir=$(cd "$here/../.." && pwd)/build/vm
initrd=$vmdir/initrd-$version.cpio.gz
if [ ! -s "$initrd" ] || [ "$here/init" -nt "$initrd" ]; then
  tree=$(mktemp -d)
  mkdir -p "$tree"/{bin,proc,sys,dev,modules}
  cp "$(command -v busybox)" "$tree/bin/busybox"
  cp "$here/init" "$tree/init" && chmod +x "$tree/init"
  : >"$tree/modules.order"
  for m in virtio_pci 9pnet_virtio 9p overlay; do
    modprobe -S "$version" --show-depends "$m" | awk '$1 == "insmod" { print $2 }'
  done | awk '!seen[$0]++' | while read -r ko; do
    cp "$ko" "$tree/modules/"
    basename "$ko" >>"$tree/modules.order"
  done
  mkdir -p "$vmdir"
  (cd "$tree" && find . | cpio -o -H newc --quiet | gzip -1) >"$initrd.tmp"
  mv "$initrd.tmp" "$initrd"
  rm -rf "$tree"
fi

rm -rf "$share" && mkdir -p "$share"
share=$(cd "$share" && pwd)
cp "$script" "$share/guest.sh"
# Variables named VM_* reach the guest script.
env | grep '^VM_' | sed "s/'/'\\\\''/g; s/=\(.*\)/='\1'/; s/^/export /" >"$share/env.sh" || true

cpus=$(nproc)
[ "$cpus" -gt 4 ] && cpus=4
set +e
timeout --kill-after=10 "$seconds" qemu-system-x86_64 \
  -machine q35 -accel tcg,thread=multi -cpu max,-smap,-smep,-pku -smp "$cpus" -m 4096 \
  -kernel "$kernel" -initrd "$initrd" \
  -append "console=ttyS0 quiet panic=-1 mu.cwd=$PWD" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -virtfs "local,path=$share,mount_tag=share,security_model=none" \
  -display none -monitor none -serial "file:$share/console.log" -no-reboot -nic none
status=$?
set -e
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
  echo "vm: the guest did not finish within $seconds s" >&2
  exit 124
fi
if [ "$status" -ne 0 ]; then
  echo "vm: qemu-system-x86_64 failed (status $status):" >&2
  tail -n 40 "$share/console.log" >&2 2>/dev/null
  exit 125
fi
if [ ! -f "$share/status" ]; then
  echo "vm: the guest stopped without reporting a status; its console said:" >&2
  tail -n 40 "$share/console.log" >&2
  exit 125
fi
exit "$(cat "$share/status")"
