#!/usr/bin/env bash
# Runs a command with a private, headless PipeWire as the sound server:
# pipewire, wireplumber and pipewire-pulse in a D-Bus session of their own,
# in a temporary runtime folder that also holds their configuration and what
# the session manager remembers (each run starts as on a new machine, and the
# user's own remembered outputs and volumes are left alone), reached through
# PIPEWIRE_RUNTIME_DIR (its own API) and PULSE_SERVER (its pulse server).
# Stopped by its PID when the command ends, whatever way it ends.
#
#   RATES="48000" QUANTUM=1024 scripts/with-pipewire.sh COMMAND...
#
# RATES lists the rates the graph may run at, the first being where it starts
# (default "40000 44100 48000", so that streams at those rates are not
# resampled); RATES=48000 is the
# desktop's own set-up, where a 40 or 44.1 kHz stream is resampled. QUANTUM
# forces the graph's cycle to that many samples (the desktop default is 1024;
# 256 to 2048 all occur). Exports TARQUEL_AUDIO_SERVER=1, as
# scripts/with-audio-server.sh does.
set -euo pipefail

runtime=$(mktemp -d "${TMPDIR:-/tmp}/tarquel-pipewire.XXXXXX")
pid=""
stop_server() {
  if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
    kill -- -"$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 -- -"$pid" 2>/dev/null || true
  fi
  rm -rf "$runtime"
}
trap stop_server EXIT
trap 'exit 130' INT TERM

mkdir -p -m 700 "$runtime/run" "$runtime/config/pipewire/pipewire.conf.d"
rates=${RATES:-40000 44100 48000}
# The graph starts at the first of the rates, and may move to another of them
# when a stream at that rate starts on an idle graph.
printf 'context.properties = {\n  default.clock.rate = %s\n  default.clock.allowed-rates = [ %s ]\n}\n' \
  "${rates%% *}" "$rates" > "$runtime/config/pipewire/pipewire.conf.d/rates.conf"
# No Bluetooth: its monitor needs systemd-logind, which a container or a
# chroot lacks, and without which the session manager stops (WirePlumber
# 0.4 reads the Lua fragment, 0.5 the conf fragment).
mkdir -p "$runtime/config/wireplumber/bluetooth.lua.d" "$runtime/config/wireplumber/wireplumber.conf.d"
echo 'bluez_monitor.enabled = false' > "$runtime/config/wireplumber/bluetooth.lua.d/80-no-bluetooth.lua"
printf 'wireplumber.profiles = {\n  main = {\n    monitor.bluez = disabled\n    support.logind = disabled\n  }\n}\n' \
  > "$runtime/config/wireplumber/wireplumber.conf.d/80-no-bluetooth.conf"
cat > "$runtime/session.sh" <<'INNER'
#!/bin/sh
pipewire >"$LOGDIR/pipewire.log" 2>&1 &
sleep 0.5
wireplumber >"$LOGDIR/wireplumber.log" 2>&1 &
sleep 0.5
pipewire-pulse >"$LOGDIR/pipewire-pulse.log" 2>&1 &
wait
INNER
chmod +x "$runtime/session.sh"
# A session of its own (setsid), so that stopping it stops all three.
XDG_RUNTIME_DIR="$runtime/run" XDG_CONFIG_HOME="$runtime/config" XDG_STATE_HOME="$runtime/state" LOGDIR="$runtime" \
  setsid dbus-run-session -- "$runtime/session.sh" >"$runtime/dbus.log" 2>&1 &
pid=$!

for _ in $(seq 100); do [[ -S "$runtime/run/pulse/native" ]] && break; sleep 0.1; done
if [[ ! -S "$runtime/run/pulse/native" ]]; then
  echo "PipeWire's pulse server did not start:" >&2
  cat "$runtime"/*.log >&2 || true
  exit 1
fi
export PIPEWIRE_RUNTIME_DIR="$runtime/run"
export PULSE_SERVER="unix:$runtime/run/pulse/native"
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
if [[ -n "${QUANTUM:-}" ]]; then
  XDG_RUNTIME_DIR="$runtime/run" pw-metadata -n settings 0 clock.force-quantum "$QUANTUM" >/dev/null
fi
export TARQUEL_AUDIO_SERVER=1

"$@"
