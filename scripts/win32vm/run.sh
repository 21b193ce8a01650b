#!/usr/bin/env bash
# Runs one command in the emulated PC (scripts/win32vm/image.sh makes its disk)
# and returns the command's exit status; its output (stdout and stderr together)
# is printed as it comes.
#
#   scripts/win32vm/run.sh [--share DIR] [--timeout SECONDS] -- COMMAND [ARGS...]
#
# DIR (default: the repository) is shared into the guest by virtio-9p at the same
# path, so paths written by the build (ctest's files) hold there too; the command
# runs in the current folder, which must lie inside DIR. The guest boots the
# image's kernel with our own init (scripts/win32vm/init) instead of a full boot,
# under qemu's TCG (this machine runs no hardware virtualisation), with -snapshot:
# nothing it writes outside DIR lasts. After SECONDS (default 1800) the machine is
# killed and 124 returned. VANTREL_VM_CPUS (default 2) and VANTREL_VM_MEMORY (MiB,
# default 2048) size the machine; the boot's kernel log is in DIR/.win32vm/console.log.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../win/common.sh"

share=$VANTREL_ROOT
limit=1800
while [ $# -gt 0 ]; do
    case "$1" in
        --share) share=$(cd "$2" && pwd); shift 2 ;;
        --timeout) limit=$2; shift 2 ;;
        --) shift; break ;;
        *) die "usage: $0 [--share DIR] [--timeout SECONDS] -- COMMAND [ARGS...]" ;;
    esac
done
[ $# -ge 1 ] || die "no command given"
cwd=$(pwd)
case "$cwd/" in "$share"/*) ;; *) cwd=$share ;; esac

ensure_packages qemu-system-x86
if [ -z "${VANTREL_VM_NOIMAGE:-}" ]; then
    VM=$("$VANTREL_ROOT/scripts/win32vm/image.sh")
else
    VM=$VANTREL_CACHE/win32vm # image.sh itself, during its first boot
fi
[ -f "$VM/disk.img" ] || die "no guest image in $VM"

job=$share/.win32vm
rm -rf "$job"
mkdir -p "$job"
{
    printf 'cd %q || exit 1\n' "$cwd"
    printf '%q ' "$@"
    printf '\necho $? >%q\n' "$job/status.tmp"
} >"$job/command"

snapshot=(-snapshot)
[ -n "${VANTREL_VM_PERSIST:-}" ] && snapshot=()
t0=$SECONDS
# The command's output reaches the console through the guest's init; the kernel
# says nothing there (quiet, loglevel=0) unless it panics.
set +e
timeout -k 10 "$limit" qemu-system-x86_64 -accel tcg -cpu max,smap=off \
    -smp "${VANTREL_VM_CPUS:-2}" -m "${VANTREL_VM_MEMORY:-2048}" \
    -nographic -no-reboot -nodefaults -serial stdio -monitor none \
    -kernel "$VM/vmlinuz" -initrd "$VM/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 quiet loglevel=0 panic=-1 init=/sbin/win32vm-init vantrel.share=$share" \
    -drive "file=$VM/disk.img,if=virtio,format=raw,cache=unsafe" "${snapshot[@]}" \
    -virtfs "local,path=$share,mount_tag=share,security_model=none,id=share" \
    </dev/null | tee "$job/console.log" | tr -d '\r'
rc=${PIPESTATUS[0]}
set -e
if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
    log "the guest did not finish within $limit s; killed"
    exit 124
fi
[ -f "$job/status" ] || die "the guest ended without a status (qemu exit $rc; console: $job/console.log)"
status=$(cat "$job/status")
log "guest command exit $status ($((SECONDS - t0)) s in the guest)"
exit "$status"
