# Shared by the desktop scripts here: a private X server, session bus and window manager per
# desktop, the monitor on a fresh simulator, screenshots. Sourced, not run; the caller sets
# MONITOR, SIMULATOR and CONVERT first.

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
  coproc SIM { exec "$SIMULATOR" --pace=instant; }
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
