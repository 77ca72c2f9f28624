#!/bin/bash
# Sets up real desktops under a private X server and session bus, runs the monitor on the
# simulated UPS in them, and takes screenshots of its tray menu and pop-up, so that a change to
# the tray can be looked at the same way each time. Not part of ./scripts/test.
#
#   tests/desktops/tray_desktops.sh [BUILD_DIR] [OUT_DIR]
#
# BUILD_DIR defaults to ./build (with bin/qelta-monitor and bin/qelta-upssim), OUT_DIR to
# ./docs. It writes:
#   tray-menu-sni-xfce.png     the menu on xfce4-panel 4.18's tray, which takes the icon as a
#                              StatusNotifierItem over D-Bus (dark panel, countdown running)
#   tray-icon-sni-xfce-light.png  the panel's tray area, light panel, no link (grey bolt)
#   tray-menu-xembed-trayer.png   the menu on trayer, an X11 (XEmbed) tray
#   popup-scale-1.5.png        the status pop-up at QT_SCALE_FACTOR=1.5 near the tray
# Needs (Debian 12): xvfb openbox xfce4-panel trayer xdotool x11-apps imagemagick dbus.
# Takes about a minute.
set -euo pipefail

BUILD=$(realpath "${1:-build}")
OUT=$(realpath "${2:-docs}")
MONITOR="$BUILD/bin/qelta-monitor"
SIMULATOR="$BUILD/bin/qelta-upssim"
# ImageMagick's own converter, whatever else is called "convert" on the PATH.
CONVERT=$(command -v convert-im6.q16 || command -v convert)
for tool in Xvfb openbox xfce4-panel trayer xdotool xwd "$CONVERT" dbus-daemon dbus-send; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x "$MONITOR" ] && [ -x "$SIMULATOR" ] || { echo "build the program first: $BUILD/bin" >&2; exit 1; }

source "$(dirname "$0")/desktop_common.sh"


started=$(date +%s)

# 1. xfce4-panel (dark), StatusNotifierItem: the menu during a countdown.
start_desktop xfce-dark
xfce_panel_config true
xfce4-panel >/dev/null 2>&1 &
PIDS+=($!)
wait_for 30 dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher \
  /StatusNotifierWatcher org.freedesktop.DBus.Properties.Get \
  string:org.kde.StatusNotifierWatcher string:IsStatusNotifierHostRegistered
start_monitor '[Sense]\nBatteryTime=1\nBatteryShutdownCountdown=600\nBatteryShutdown=1'
wait_for 30 sni_item_registered
sleep 3
tell_simulator battery
sleep 4
# The tray icon is the right-most thing on the panel.
xdotool mousemove 1352 753 click 3
sleep 2
# Onto the menu's first item, so that the icon's tooltip goes.
xdotool mousemove 1200 560
sleep 1
shot "$OUT/tray-menu-sni-xfce.png" 700x420+666+348
xdotool key Escape
kill "$MONITOR_PID"
for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
PIDS=()
sleep 1

# 2. xfce4-panel (light), no link: the dark bolt on a light panel, and on a dark one in step 1.
start_desktop xfce-light
xfce_panel_config false
xfce4-panel >/dev/null 2>&1 &
PIDS+=($!)
wait_for 30 dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher \
  /StatusNotifierWatcher org.freedesktop.DBus.Properties.Get \
  string:org.kde.StatusNotifierWatcher string:IsStatusNotifierHostRegistered
start_monitor
wait_for 30 sni_item_registered
tell_simulator silent
sleep 6
shot "$OUT/tray-icon-sni-xfce-light.png" 200x40+1166+728
for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
PIDS=()
sleep 1

# 3. trayer, an X11 (XEmbed) tray at the bottom right: the toolkit opens the menu at the click.
start_desktop trayer
trayer --edge bottom --align right --widthtype request --height 30 --tint 0x303030 \
  --transparent true --alpha 0 >/dev/null 2>&1 &
PIDS+=($!)
sleep 2
start_monitor
sleep 5
xdotool mousemove 1352 753 click 3
sleep 2
shot "$OUT/tray-menu-xembed-trayer.png" 700x420+666+348
xdotool key Escape
for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
PIDS=()
sleep 1

# 4. xfce4-panel at a scale of 1.5: the pop-up from a left click stays above the panel.
start_desktop xfce-scaled
xfce_panel_config true
xfce4-panel >/dev/null 2>&1 &
PIDS+=($!)
wait_for 30 dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher \
  /StatusNotifierWatcher org.freedesktop.DBus.Properties.Get \
  string:org.kde.StatusNotifierWatcher string:IsStatusNotifierHostRegistered
start_monitor '' QT_SCALE_FACTOR=1.5
wait_for 30 sni_item_registered
sleep 3
xdotool mousemove 1352 753 click 1
xdotool mousemove 900 200
sleep 3
shot "$OUT/popup-scale-1.5.png" 700x420+666+348

echo "done in $(($(date +%s) - started)) s"
