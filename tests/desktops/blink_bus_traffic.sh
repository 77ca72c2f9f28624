#!/bin/bash
# Measures what the tray icon's blink costs on the session bus: the monitor runs on battery
# (the icon alternates red and yellow every 450 ms) in xfce4-panel 4.18's tray, which takes it
# as a StatusNotifierItem and reads the icon again at every change. Prints the messages and
# bytes seen on the bus in SECONDS (default 60), and how many of them were icon changes.
#
#   tests/desktops/blink_bus_traffic.sh [BUILD_DIR] [SECONDS]
#
# Needs (Debian 12): xvfb openbox xfce4-panel dbus python3 (and what desktop_common.sh needs).
set -euo pipefail

BUILD=$(realpath "${1:-build}")
SECONDS_MEASURED=${2:-60}
MONITOR="$BUILD/bin/qelta-monitor"
SIMULATOR="$BUILD/bin/qelta-upssim"
CONVERT=$(command -v convert-im6.q16 || command -v convert || echo convert)
for tool in Xvfb openbox xfce4-panel dbus-daemon dbus-send dbus-monitor python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x "$MONITOR" ] && [ -x "$SIMULATOR" ] || { echo "build the program first: $BUILD/bin" >&2; exit 1; }

source "$(dirname "$0")/desktop_common.sh"

start_desktop blink
xfce_panel_config true
xfce4-panel >/dev/null 2>&1 &
PIDS+=($!)
wait_for 30 dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher \
  /StatusNotifierWatcher org.freedesktop.DBus.Properties.Get \
  string:org.kde.StatusNotifierWatcher string:IsStatusNotifierHostRegistered
start_monitor
wait_for 30 sni_item_registered
sleep 3
tell_simulator battery
sleep 3
timeout "$SECONDS_MEASURED" dbus-monitor --session --pcap >"$WORK/bus.pcap" 2>/dev/null || true
timeout "$SECONDS_MEASURED" dbus-monitor --session >"$WORK/bus.txt" 2>/dev/null || true
# The pcap stream: a 24-byte file header, then per message a 16-byte record header whose third
# field is the message's length.
python3 - "$WORK/bus.pcap" "$SECONDS_MEASURED" <<'EOF'
import struct, sys
data = open(sys.argv[1], 'rb').read()
seconds = int(sys.argv[2])
offset, count, total = 24, 0, 0
while offset + 16 <= len(data):
    length = struct.unpack_from('<I', data, offset + 8)[0]
    offset += 16 + length
    count += 1
    total += length
print(f"{count} messages, {total} bytes on the session bus in {seconds} s")
EOF
echo "$(grep -c 'member=NewIcon' "$WORK/bus.txt") NewIcon signals in the next $SECONDS_MEASURED s (text run)"
