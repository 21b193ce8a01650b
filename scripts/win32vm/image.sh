#!/usr/bin/env bash
# Makes the emulated PC's disk: Debian 12 (amd64, whose kernel runs 32-bit
# programs) with 32-bit wine, Xvfb, cmake (ctest) and python3, built from Debian
# packages alone, then a wine prefix made by booting it once.
#
#   scripts/win32vm/image.sh        # prints the folder that holds the image
#
# Into $VANTREL_CACHE/win32vm/: disk.img (ext4, made with mkfs.ext4 -d, no loop
# mount), vmlinuz and initrd.img (with the virtio and 9p modules). Nothing is done
# when the folder holds an image made by the same recipe (this script and the
# guest's init); otherwise it is made again (about 3 minutes and 1 GB of downloads).
# Needs root (debootstrap, chroot) and the network.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../win/common.sh"

HERE=$VANTREL_ROOT/scripts/win32vm
OUT=$VANTREL_CACHE/win32vm
# The packages of the guest, besides debootstrap's minimal base.
GUEST_PACKAGES=(
    linux-image-amd64 initramfs-tools kmod iproute2 procps
    wine wine32:i386 libwine:i386
    # The X libraries wine's 32-bit drivers load (recommended by wine32, so named here).
    libx11-6:i386 libxext6:i386 libxrender1:i386 libxrandr2:i386 libxi6:i386 libxcursor1:i386
    libxinerama1:i386 libxcomposite1:i386 libxfixes3:i386 libxxf86vm1:i386 libfreetype6:i386
    libfontconfig1:i386 fontconfig
    xvfb xauth cmake python3
)

stamp() {
    sha256sum "$HERE/image.sh" "$HERE/init" | cut -c1-16 | tr '\n' ' '
}

# The mirror the machine's apt sources name (deb822 or one-line form).
mirror() {
    local m
    m=$(grep -rhoE '^URIs: *https?://[^ ]+/debian/?$' /etc/apt/sources.list.d/ 2>/dev/null | head -n 1 |
        sed 's/^URIs: *//')
    [ -n "$m" ] || m=$(grep -hoE '^deb +(\[[^]]*\] +)?https?://[^ ]+/debian/? ' /etc/apt/sources.list \
        /etc/apt/sources.list.d/*.list 2>/dev/null | head -n 1 | awk '{print $NF}')
    echo "${m:-http://deb.debian.org/debian}"
}

make_image() {
    local want
    want=$(stamp)
    if [ -f "$OUT/disk.img" ] && [ "$(cat "$OUT/stamp" 2>/dev/null)" = "$want" ]; then
        log "guest image up to date in $OUT"
        return
    fi
    [ "$(id -u)" = 0 ] || die "making the guest image needs root"
    ensure_packages debootstrap e2fsprogs qemu-system-x86
    local t0=$SECONDS root=$VANTREL_CACHE/build/win32vm-root m
    m=$(mirror)
    rm -rf "$root" "$OUT"
    mkdir -p "$root" "$OUT"
    log "debootstrap bookworm from $m"
    debootstrap --variant=minbase bookworm "$root" "$m" >"$OUT.log" 2>&1 ||
        { tail -n 20 "$OUT.log" >&2; die "debootstrap failed (log: $OUT.log)"; }
    # The kernel's initramfs must find the disk and the shared folder.
    mkdir -p "$root/etc/initramfs-tools"
    printf '%s\n' virtio_pci virtio_blk ext4 9p 9pnet_virtio >>"$root/etc/initramfs-tools/modules"
    log "guest packages"
    chroot "$root" /bin/sh -ec "
        dpkg --add-architecture i386
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends ${GUEST_PACKAGES[*]}
        apt-get clean
        rm -rf /var/lib/apt/lists/*
    " >>"$OUT.log" 2>&1 || { tail -n 20 "$OUT.log" >&2; die "guest packages failed (log: $OUT.log)"; }
    install -m 755 "$HERE/init" "$root/sbin/win32vm-init"
    cp "$root"/boot/vmlinuz-* "$OUT/vmlinuz"
    cp "$root"/boot/initrd.img-* "$OUT/initrd.img"
    # Room for the wine prefix and the programs' temporary files.
    local size_mb
    size_mb=$(($(du -sm "$root" | cut -f1) + 1536))
    mkfs.ext4 -q -F -L win32vm -d "$root" "$OUT/disk.img" "${size_mb}M" >>"$OUT.log" 2>&1 ||
        { tail -n 20 "$OUT.log" >&2; die "mkfs.ext4 failed (log: $OUT.log)"; }
    rm -rf "$root"
    log "guest image made in $((SECONDS - t0)) s; making the 32-bit wine prefix in it"
    # One boot that keeps what it writes: wineboot's prefix, so that every later
    # (snapshot) boot starts with it.
    VANTREL_VM_PERSIST=1 VANTREL_VM_NOIMAGE=1 "$HERE/run.sh" --timeout 900 -- \
        sh -c 'WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i && wineserver -w && test -f /root/.wine/system.reg' ||
        die "wineboot in the guest failed"
    echo "$want" >"$OUT/stamp"
    log "guest image ready in $((SECONDS - t0)) s: $OUT"
}

mkdir -p "$VANTREL_CACHE/build"
with_cache_lock win32vm-image make_image
echo "$OUT"
