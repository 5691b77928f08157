#!/usr/bin/env bash
# The main job on built-in defaults: a private session bus, the server registered for
# activation in a temporary home, a short generated clip converted for a phone of the embedded
# device database through `vtranscode convert` (the bus starts the server on demand), the
# events as they come and the result's media information. Leaves nothing behind.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build/default}"
server="$build/vtranscodeserver/ZeltoVTranscodeServer"
client="$build/client/vtranscode"
device="${DEMO_DEVICE:-KA-320}"
format="${DEMO_FORMAT:-7}"   # video at the device's medium quality

work="$(mktemp -d /tmp/vtranscode-demo.XXXXXX)"
bus_pid=""
watch_pid=""
cleanup() {
  set +e
  [ -n "$watch_pid" ] && kill "$watch_pid" 2>/dev/null
  if [ -n "$bus_pid" ]; then
    "$server" -close >/dev/null 2>&1
    "$server" -UnregServerPerUser >/dev/null 2>&1
    kill "$bus_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

export HOME="$work/home"
export XDG_DATA_HOME="$HOME/.local/share" XDG_CONFIG_HOME="$HOME/.config"
export XDG_RUNTIME_DIR="$work/run" ZELTO_REGISTRY_DIR="$work/registry"
mkdir -p "$XDG_DATA_HOME/dbus-1/services" "$XDG_CONFIG_HOME" "$ZELTO_REGISTRY_DIR"
mkdir -m 0700 "$XDG_RUNTIME_DIR"

cat > "$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$XDG_RUNTIME_DIR</listen>
  <servicedir>$XDG_DATA_HOME/dbus-1/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
exec 3< <(dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=1 --print-pid=1)
read -r DBUS_SESSION_BUS_ADDRESS <&3
read -r bus_pid <&3
export DBUS_SESSION_BUS_ADDRESS
echo "== private session bus at $DBUS_SESSION_BUS_ADDRESS"

"$server" -RegServerPerUser
echo "== server registered for activation: $(cat "$XDG_DATA_HOME/dbus-1/services/com.zelto.VTranscodeServer.service" | grep Exec)"

clip="$work/clip.mp4"
ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc2=size=640x480:rate=30 \
  -f lavfi -i sine=frequency=440:sample_rate=48000 -t 4 -c:v libx264 -pix_fmt yuv420p \
  -c:a aac -shortest "$clip"
echo "== generated $clip (4 s, 640x480, H.264 + AAC)"

echo "== events"
"$client" watch &
watch_pid=$!
sleep 0.5

echo "== converting for device $device, format $format"
"$client" convert "$clip" "$work/phone.mp4" --format "$format" --device "$device"
sleep 0.5
kill "$watch_pid" 2>/dev/null || true
wait "$watch_pid" 2>/dev/null || true
watch_pid=""

echo "== media information of the result"
"$client" GetFileInfo "$work/phone.mp4"
echo "== done"
