#!/usr/bin/env bash
# The relay without hardware: halvane relays card dialogues between the USB box stand-in (its
# libusb) and the decoding-server stand-in, with its configuration from the configuration-endpoint
# stand-in, under the service-manager stand-in. Each relay call shows as a line of the box
# ("usbbox: session ...") and, when it reached the server, one of the server ("sim-decoder:
# session ..."). Ctrl+C stops halvane after the call in progress, then the stand-ins.
#   sim/demo/relay.sh BUILD_DIR [SCENARIO DIALOGUE]
# BUILD_DIR is a build tree of the suite; SCENARIO and DIALOGUE default to relay.scenario and
# relay.dialogue beside this script. ./run relay builds and then runs this.
set -euo pipefail

demo="$(cd "$(dirname "$0")" && pwd)"
if [ $# -ne 1 ] && [ $# -ne 3 ]; then
    echo "usage: $0 BUILD_DIR [SCENARIO DIALOGUE]" >&2
    exit 2
fi
build="$(cd "$1" && pwd)"
scenario="$(realpath "${2:-$demo/relay.scenario}")"
dialogue="$(realpath "${3:-$demo/relay.dialogue}")"
for file in "$scenario" "$dialogue"; do
    [ -r "$file" ] || { echo "relay demo: cannot read $file" >&2; exit 2; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/relay-demo.XXXXXX")"
manager=""
stand_ins=()
readers=()

# Ctrl+C, SIGTERM or a closed terminal asks the service manager to stop halvane; a stop that
# comes before halvane runs is kept until it does.
stop_requested=""
stop() {
    if [ -z "$stop_requested" ]; then
        echo "relay demo: stopping; halvane first ends the relay call in progress"
    fi
    stop_requested=yes
    [ -z "$manager" ] || kill -TERM "$manager" 2>/dev/null || true
}
trap stop INT TERM HUP

# Stops what runs, halvane first (its stop waits for the call in progress), then the stand-ins.
finish() {
    local status=$?
    trap '' INT TERM HUP
    if [ -n "$manager" ]; then
        kill -TERM "$manager" 2>/dev/null || true
        wait "$manager" 2>/dev/null || true
    fi
    for pid in "${stand_ins[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${stand_ins[@]}" "${readers[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
    echo "relay demo: stopped"
    exit "$status"
}
trap finish EXIT

# Starts a stand-in in a session of its own, so that the terminal's Ctrl+C reaches only this
# script, which stops the stand-ins last. Its first line says where it listens; the port it took
# goes to the variable named first, the line and every later one to standard output.
start_stand_in() {
    local port_variable=$1 name=$2 line fd
    shift 2
    mkfifo "$work/$name"
    setsid "$@" >"$work/$name" 2>&1 </dev/null &
    stand_ins+=($!)
    exec {fd}<"$work/$name"
    if ! IFS= read -r -t 30 line <&"$fd" || [[ "$line" != *"listening on 127.0.0.1:"* ]]; then
        [ -z "$stop_requested" ] || exit 130
        echo "relay demo: $name did not start: ${line:-no answer}" >&2
        exit 1
    fi
    echo "$line"
    cat <&"$fd" &
    readers+=($!)
    exec {fd}<&-
    printf -v "$port_variable" '%s' "${line##*:}"
}

echo "relay demo: box $scenario"
echo "relay demo: server $dialogue"
start_stand_in decoder_port sim-decoder "$build/bin/sim-decoder" --port 0 --script "$dialogue"
start_stand_in config_port sim-configserver "$build/bin/sim-configserver" --port 0 \
    --server "127.0.0.1:$decoder_port"

# Halvane's lines (the relay's configuration line, the box's line per session) and the service
# manager's come on standard output, in the order they happen.
[ -z "$stop_requested" ] || exit 130
LD_LIBRARY_PATH="$build/sim/usbbox${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
    USBBOX_SIM_SCENARIO="$scenario" USBBOX_SIM_SUMMARY=1 \
    OSTREL_CONFIG_HOST="127.0.0.1:$config_port" no_proxy="127.0.0.1${no_proxy:+,$no_proxy}" \
    setsid "$build/bin/sim-servicemanager" "$build/bin/halvane" </dev/null 2>&1 &
manager=$!
[ -z "$stop_requested" ] || stop
# A stop ends the wait early, so it waits again until the manager has ended; its status is the
# demo's.
status=0
while kill -0 "$manager" 2>/dev/null; do
    wait "$manager" && status=0 || status=$?
done
manager=""
exit "$status"
