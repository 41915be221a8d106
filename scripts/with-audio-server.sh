#!/usr/bin/env bash
# Runs a command with a private, headless PulseAudio server as the default
# audio output: a null sink taking 32-bit float mono at 40000 Hz, so that Qt
# Multimedia finds a real output device on a machine without a sound card.
# The server lives in its own temporary runtime folder, is reached through
# PULSE_SERVER, and is stopped by its PID when the command ends, whatever
# way it ends. Tests may load further modules (a pipe sink to record what is
# played) with pactl against the same server.
#
# Exports TARQUEL_AUDIO_SERVER=1 so that tests needing audio can tell "no
# device because none was started" (skip) from "a device was started but the
# program cannot use it" (fail).
set -euo pipefail

runtime=$(mktemp -d "${TMPDIR:-/tmp}/tarquel-pulse.XXXXXX")
pid=""
stop_server() {
  if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$runtime"
}
trap stop_server EXIT
trap 'exit 130' INT TERM

mkdir -p "$runtime"/{run,state,config,home}
export PULSE_RUNTIME_PATH="$runtime/run"
export PULSE_STATE_PATH="$runtime/state"
export PULSE_CONFIG_PATH="$runtime/config"
export XDG_RUNTIME_DIR="$runtime/run"
chmod 700 "$runtime/run"

cat > "$runtime/config/default.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$runtime/native
load-module module-null-sink sink_name=tarquel_null format=float32le rate=40000 channels=1
set-default-sink tarquel_null
PA
# No autospawned second server, whatever the user's own configuration says.
printf 'autospawn = no\n' > "$runtime/config/client.conf"
export PULSE_CLIENTCONFIG="$runtime/config/client.conf"

# As root the server prints a warning that it is not meant to run as root;
# it works all the same, with its own runtime folder.
HOME="$runtime/home" pulseaudio -n -F "$runtime/config/default.pa" \
  --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disallow-exit=yes \
  --log-target=file:"$runtime/pulse.log" >/dev/null 2>&1 &
pid=$!
export PULSE_SERVER="unix:$runtime/native"

for _ in $(seq 100); do
  pactl info >/dev/null 2>&1 && break
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "The audio server did not start:" >&2
    cat "$runtime/pulse.log" >&2 || true
    exit 1
  fi
  sleep 0.1
done
if ! pactl info >/dev/null 2>&1; then
  echo "The audio server did not answer within 10 s" >&2
  exit 1
fi
export TARQUEL_AUDIO_SERVER=1

"$@"
