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

WORK=$(mktemp -d /tmp/qelta-desktops-XXXXXX)
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 10))); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  echo "timed out: $*" >&2
  return 1
}

shot() {  # shot FILE [GEOMETRY]: the whole screen, or the part GEOMETRY (WxH+X+Y)
  # A window that goes while xwd reads the screen fails it; the next try does not meet it.
  for _ in 1 2 3; do
    if xwd -root -silent -out "$WORK/screen.xwd" 2>/dev/null; then
      "$CONVERT" "xwd:$WORK/screen.xwd" ${2:+-crop "$2" +repage} "png:$1"
      echo "wrote $1"
      return 0
    fi
    sleep 0.5
  done
  echo "could not read the screen for $1" >&2
  return 1
}

# One desktop: a fresh home, X server, session bus and window manager. $1 names it.
start_desktop() {
  export HOME="$WORK/$1"
  export XDG_CONFIG_HOME="$HOME/config" XDG_DATA_HOME="$HOME/data" XDG_CACHE_HOME="$HOME/cache"
  export XDG_RUNTIME_DIR="$HOME/runtime"
  mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  DISPLAY_NUMBER=$((90 + RANDOM % 400))
  export DISPLAY=":$DISPLAY_NUMBER"
  Xvfb "$DISPLAY" -screen 0 1366x768x24 -nolisten tcp >/dev/null 2>&1 &
  PIDS+=($!)
  wait_for 10 xdpyinfo -display "$DISPLAY" || wait_for 10 xwd -root -silent -out /dev/null
  dbus-daemon --session --fork --print-address=1 --print-pid=2 --nopidfile \
    >"$HOME/bus-address" 2>"$HOME/bus-pid"
  DBUS_SESSION_BUS_ADDRESS=$(head -1 "$HOME/bus-address")
  export DBUS_SESSION_BUS_ADDRESS
  PIDS+=("$(head -1 "$HOME/bus-pid")")
  # No logind is reached from here: the countdown can never power anything off.
  export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$HOME/no-system-bus"
  openbox >/dev/null 2>&1 &
  PIDS+=($!)
  xsetroot -solid '#4a6a8a' 2>/dev/null || true
}

# The monitor, installed as far as its settings go, on a fresh simulator. Extra settings in $1,
# extra environment in the rest.
start_monitor() {
  coproc SIM { "$SIMULATOR" --pace=instant; }
  PIDS+=("$SIM_PID")
  read -r device <&"${SIM[0]}"
  exec {SIM_IN}>&"${SIM[1]}"
  mkdir -p "$XDG_CONFIG_HOME/QELTA/QELTA MONITOR"
  printf '[Settings]\nInstalled=1\nVersion=0.99.6\nPort=COM1\nInterval=1\n%b\n[Ports]\nCOM1=%s\n' \
    "${1:-}" "$device" >"$XDG_CONFIG_HOME/QELTA/QELTA MONITOR/1.0.ini"
  shift || true
  mkdir -p "$HOME/program"
  cp "$MONITOR" "$HOME/program/"
  (cd "$HOME/program" && exec env QT_QPA_PLATFORM=xcb "$@" ./qelta-monitor >/dev/null 2>&1) &
  MONITOR_PID=$!
  PIDS+=("$MONITOR_PID")
}

tell_simulator() { echo "$1" >&"$SIM_IN"; }

window_of() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1; }

sni_item_registered() {
  dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
    org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher \
    string:RegisteredStatusNotifierItems 2>/dev/null | grep -q StatusNotifierItem
}

# xfce4-panel with one bottom panel: the task list (to show what has a taskbar entry), then
# the tray, which hosts StatusNotifierItems over D-Bus and X11 icons alike.
xfce_panel_config() {
  local dark=$1
  mkdir -p "$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml"
  cat >"$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="dark-mode" type="bool" value="$dark"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=8;x=683;y=755"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="30"/>
      <property name="icon-size" type="uint" value="22"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
        <value type="int" value="3"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="tasklist"/>
    <property name="plugin-2" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-3" type="string" value="systray">
      <property name="square-icons" type="bool" value="true"/>
    </property>
  </property>
</channel>
EOF
}

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
