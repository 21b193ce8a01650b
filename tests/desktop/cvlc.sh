#!/usr/bin/env bash
# Runs cvlc with the given arguments as an unprivileged user, since VLC refuses to
# run as root: as root, as the user vantrel-vlc (made here when missing) with an
# empty HOME of its own; otherwise as the caller. VLC_PLUGIN_PATH is passed on. What
# VLC reads must be readable by others, and where it writes writable by that user.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
  exec cvlc "$@"
fi
user=vantrel-vlc
if ! id -u "$user" >/dev/null 2>&1; then
  useradd --system --no-create-home --shell /usr/sbin/nologin "$user" 2>/dev/null || id -u "$user" >/dev/null
fi
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
chown "$user" "$home"
runuser -u "$user" -- env -i PATH=/usr/bin:/bin HOME="$home" LANG=C.UTF-8 \
  ${VLC_PLUGIN_PATH:+VLC_PLUGIN_PATH="$VLC_PLUGIN_PATH"} cvlc "$@"
