#!/bin/bash
# The monitor under headless sway (Wayland) with waybar's tray, which takes the icon as a
# StatusNotifierItem, and mako as the notification service: screenshots of the bar with the icon,
# of the pop-up opened by a click on it. Not part of ./scripts/test.
#
#   tests/desktops/sway_waybar.sh [BUILD_DIR] [OUT_DIR]
#
# Writes in OUT_DIR: tray-sni-waybar.png (the bar with the icon, and the pop-up that a left click
# on it opens: a normal window, as nothing can place it on Wayland). The tray menu is not
# pictured: headless sway has no input device, and a click made with its own cursor
# ("seat seat0 cursor press button3") reaches no client; the whole-program tray test reads the
# menu over D-Bus as waybar does. Takes about 10 s.
# Needs (Debian 12): sway waybar mako-notifier grim qt6-wayland dbus.
set -euo pipefail

BUILD=$(realpath "${1:-build}")
OUT=$(realpath "${2:-docs}")
MONITOR="$BUILD/bin/qelta-monitor"
SIMULATOR="$BUILD/bin/qelta-upssim"
CONVERT=$(command -v convert-im6.q16 || command -v convert || echo convert)
for tool in sway swaymsg waybar mako grim dbus-daemon dbus-send; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x "$MONITOR" ] && [ -x "$SIMULATOR" ] || { echo "build the program first: $BUILD/bin" >&2; exit 1; }

# sway refuses to run as root: as root, the whole desktop runs as the user nobody, and the
# pictures are copied out afterwards.
if [ "$(id -u)" = 0 ]; then
  SHOTS=$(mktemp -d /tmp/qelta-sway-shots-XXXXXX)
  chown nobody "$SHOTS"
  setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env \
    env PATH="$PATH" "$(realpath "$0")" "$BUILD" "$SHOTS" || status=$?
  cp "$SHOTS"/*.png "$OUT"/ 2>/dev/null || true
  rm -rf "$SHOTS"
  exit "${status:-0}"
fi

source "$(dirname "$0")/desktop_common.sh"
started=$(date +%s)

export HOME="$WORK/sway"
export XDG_CONFIG_HOME="$HOME/config" XDG_DATA_HOME="$HOME/data" XDG_CACHE_HOME="$HOME/cache"
export XDG_RUNTIME_DIR="$HOME/runtime"
mkdir -p "$XDG_CONFIG_HOME/waybar" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY
dbus-daemon --session --fork --print-address=1 --print-pid=2 --nopidfile \
  >"$HOME/bus-address" 2>"$HOME/bus-pid"
DBUS_SESSION_BUS_ADDRESS=$(head -1 "$HOME/bus-address")
export DBUS_SESSION_BUS_ADDRESS
PIDS+=("$(head -1 "$HOME/bus-pid")")
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$HOME/no-system-bus"

cat >"$HOME/sway.conf" <<'EOF'
output HEADLESS-1 resolution 1366x768 background #4a6a8a solid_color
default_border normal
EOF
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
  sway -c "$HOME/sway.conf" >"$HOME/sway.log" 2>&1 &
PIDS+=($!)
wait_for 20 sh -c 'ls "$XDG_RUNTIME_DIR"/wayland-* | grep -v lock'
WAYLAND_DISPLAY=$(basename "$(ls "$XDG_RUNTIME_DIR"/wayland-* | grep -v lock | head -1)")
export WAYLAND_DISPLAY
SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.* | head -1)
export SWAYSOCK

cat >"$XDG_CONFIG_HOME/waybar/config" <<'EOF'
{ "position": "bottom", "height": 30, "modules-left": ["clock"],
  "modules-right": ["tray"], "tray": { "icon-size": 22, "spacing": 6 } }
EOF
waybar >"$HOME/waybar.log" 2>&1 &
PIDS+=($!)
mako >"$HOME/mako.log" 2>&1 &
PIDS+=($!)
wait_for 30 dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher \
  /StatusNotifierWatcher org.freedesktop.DBus.Properties.Get \
  string:org.kde.StatusNotifierWatcher string:IsStatusNotifierHostRegistered

start_monitor '' QT_QPA_PLATFORM=wayland
wait_for 30 sni_item_registered
sleep 4  # the welcome balloon comes after the first poll
item=$(dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
  org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher \
  string:RegisteredStatusNotifierItems | grep -o '"[^"]*"' | head -1 | tr -d '"')
# A left click on the icon as waybar makes it: Activate(x, y) on the item.
dbus-send --session --type=method_call --dest="${item%%/*}" "/${item#*/}" \
  org.kde.StatusNotifierItem.Activate int32:1350 int32:750
sleep 2
grim "$OUT/tray-sni-waybar.png"
echo "wrote $OUT/tray-sni-waybar.png"

echo "done in $(($(date +%s) - started)) s"
