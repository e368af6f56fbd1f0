#!/usr/bin/env bash
# What a request costs Zembra, measured from outside on 127.0.0.1 (scripts/setup-bench.sh installs
# the tools):
#   status    the status route against nginx with one worker giving an answer of the same size on
#             the wire, 50 keep-alive connections of keepalive_client (built in BUILD_DIR/bench;
#             it costs less per answer than either server, so the server is what runs out of
#             processor time), five rounds of runs, each round in another order; each round's
#             ratio of answers per second and of the server's processor time per answer, and
#             their medians; Zembra's resident memory after them. stack_floor (BUILD_DIR/bench),
#             Zembra's server model with none of its own work, runs in the same rounds, so that
#             its ratio to nginx shows the most Zembra could reach in that model
#   readcard  /readcard with the sample card and its photo, 10 connections of wrk; then a profile of
#             the same load (perf), shared out by the program and the libraries that ran
#   syscalls  the system calls Zembra makes over a fixed number of status requests on 50
#             keep-alive connections (strace -c), per request
# Usage: bench/webservice/zembra_cost.sh [BUILD_DIR] [status|readcard|syscalls]...
#   BUILD_DIR defaults to build/; without parts, all three run. BENCH_SECONDS sets each run's
#   length (default 10), BENCH_REQUESTS the fixed number of requests (default 100000).
# As root it runs in a network namespace of its own, so that its ports meet no other program's.
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
if [ "$(id -u)" -eq 0 ] && [ -z "${ZEMBRA_COST_NAMESPACE:-}" ]; then
    ZEMBRA_COST_NAMESPACE=1 exec unshare -n -- "$0" "$@"
fi
[ -z "${ZEMBRA_COST_NAMESPACE:-}" ] || ip link set lo up

build="$root/build"
if [ $# -gt 0 ] && [ -d "$1" ]; then
    build="$(cd "$1" && pwd)"
    shift
fi
parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(status readcard syscalls)
seconds="${BENCH_SECONDS:-10}"
requests="${BENCH_REQUESTS:-100000}"
zembra_port=19196
nginx_port=19197
floor_port=19198
for tool in wrk nginx strace perf curl; do
    command -v "$tool" >/dev/null || { echo "zembra_cost: $tool is missing: run scripts/setup-bench.sh" >&2; exit 2; }
done
client="$build/bench/keepalive_client"
floor="$build/bench/stack_floor"
for program in "$client" "$floor"; do
    [ -x "$program" ] || { echo "zembra_cost: $program is missing: build the suite" >&2; exit 2; }
done

# On two cores or more each server runs on the second and its clients on the first, so that no
# run has them move between the cores: where they meet changes the cost of an answer by a fifth.
server_cpu=()
client_cpu=()
if [ "$(nproc)" -ge 2 ]; then
    server_cpu=(taskset -c 1)
    client_cpu=(taskset -c 0)
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/zembra-cost.XXXXXX")"
zembra_pid=""
nginx_pid=""
floor_pid=""
finish() {
    for pid in $zembra_pid $nginx_pid $floor_pid; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in $zembra_pid $nginx_pid $floor_pid; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap finish EXIT

# Waits up to 20 s for a server to answer at url.
await() {
    local until=$((SECONDS + 20))
    while ! curl -s -o /dev/null "$1"; do
        [ $SECONDS -lt $until ] || { echo "zembra_cost: nothing answers at $1" >&2; exit 1; }
        sleep 0.1
    done
}

# Bytes of one whole answer on the wire, head and framing included, at a port and path.
wire_size() {
    "$client" "$1" "$2" size
}

start_zembra() {
    mkdir -p "$work/zembra/registry" "$work/zembra/units"
    cp "$build/bin/zembra" "$build/bin/libTrovik.so" "$build/bin/readcard.html" "$work/zembra/"
    printf 'card.photo = yes\n' >"$work/zembra/trovik-sim.conf"
    export ZEMBRA_REGISTRY_ROOT="$work/zembra/registry" ZEMBRA_UNIT_DIR="$work/zembra/units"
    "$work/zembra/zembra" -RegServer
    "${server_cpu[@]}" "$work/zembra/zembra" >"$work/zembra/output" 2>&1 &
    zembra_pid=$!
    await "http://127.0.0.1:$zembra_port/getdevicestatus"
}

# nginx with one worker answering every path with a body that makes its answer as long on the wire
# as Zembra's status answer, keep-alive connections never ended by a request count.
start_nginx() {
    local target="$1" body_size="$1" size
    mkdir -p "$work/nginx"
    for _ in 1 2 3; do
        body="$(head -c "$body_size" /dev/zero | tr '\0' x)"
        cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    server_tokens off;
    default_type "";
    keepalive_requests 100000000;
    keepalive_timeout 60s;
    server {
        listen 127.0.0.1:$nginx_port;
        location / { return 200 "$body"; }
    }
}
CONF
        [ -z "$nginx_pid" ] || { kill -TERM "$nginx_pid"; wait "$nginx_pid" 2>/dev/null || true; }
        "${server_cpu[@]}" nginx -e "$work/nginx/error.log" -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
        nginx_pid=$!
        await "http://127.0.0.1:$nginx_port/"
        size="$(wire_size "$nginx_port" /)"
        [ "$size" -ne "$target" ] || return 0
        body_size=$((body_size + target - size))
    done
    echo "zembra_cost: nginx's answer is $size bytes, not $target" >&2
    exit 1
}

# Answers per second of a wrk run.
rate() {
    "${client_cpu[@]}" wrk -t1 -c"$1" -d"${seconds}s" "$2" | awk '/^Requests\/sec:/ { print $2 }'
}

# Processor time in clock ticks that a process has taken, its own and the system's for it.
ticks() {
    awk '{ print $14 + $15 }' "/proc/$1/stat"
}

# A run of 50 connections on a server process (its pid, port and path): answers per second and
# the server's processor time per answer in microseconds.
measure() {
    local before after output
    before="$(ticks "$1")"
    output="$("${client_cpu[@]}" "$client" "$2" "$3" 50 "$seconds")"
    after="$(ticks "$1")"
    echo "$output" | awk -v ticks=$((after - before)) -v hz="$(getconf CLK_TCK)" '
        { printf "%s %.1f\n", $3, ticks * 1000000 / hz / $1 }'
}

resident_kib() {
    awk "/^$2:/ { print \$2 }" "/proc/$1/status"
}

start_floor() {
    "${server_cpu[@]}" "$floor" "$floor_port" "$1" &
    floor_pid=$!
    await "http://127.0.0.1:$floor_port/"
}

# The first number over the second, to three places.
ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'
}

# The median of numbers given one a line.
median() {
    sort -n | awk '{ values[NR] = $1 } END { print values[int((NR + 1) / 2)] }'
}

status_part() {
    local path=/getdevicestatus size
    size="$(wire_size "$zembra_port" "$path")"
    start_nginx "$size"
    start_floor "$size"
    echo "status route: answers of $size bytes on the wire from each, 50 connections, ${seconds} s a run"
    local worker
    worker="$(pgrep -P "$nginx_pid")"
    local -A pid=([zembra]="$zembra_pid" [nginx]="$worker" [floor]="$floor_pid")
    local -A port=([zembra]="$zembra_port" [nginx]="$nginx_port" [floor]="$floor_port")
    local -A route=([zembra]="$path" [nginx]=/ [floor]=/)
    local -A rate cost
    local ratios=() costs=() floor_ratios=() orders=("zembra nginx floor" "nginx floor zembra" "floor zembra nginx")
    for server in zembra nginx floor; do  # warm-up of each
        "${client_cpu[@]}" "$client" "${port[$server]}" "${route[$server]}" 50 2 >/dev/null
    done
    for round in 1 2 3 4 5; do
        for server in ${orders[$(((round - 1) % 3))]}; do
            read -r "rate[$server]" "cost[$server]" <<<"$(measure "${pid[$server]}" "${port[$server]}" "${route[$server]}")"
        done
        ratios+=("$(ratio "${rate[zembra]}" "${rate[nginx]}")")
        costs+=("$(ratio "${cost[zembra]}" "${cost[nginx]}")")
        floor_ratios+=("$(ratio "${rate[floor]}" "${rate[nginx]}")")
        echo "  round $round: zembra ${rate[zembra]}/s, ${cost[zembra]} us of processor an answer; nginx ${rate[nginx]}/s, ${cost[nginx]} us; floor ${rate[floor]}/s, ${cost[floor]} us"
        echo "           zembra/nginx rate ratio ${ratios[-1]}, processor time ratio ${costs[-1]}; floor/nginx rate ratio ${floor_ratios[-1]}"
    done
    echo "  median zembra/nginx rate ratio $(printf '%s\n' "${ratios[@]}" | median), processor time ratio $(printf '%s\n' "${costs[@]}" | median); median floor/nginx rate ratio $(printf '%s\n' "${floor_ratios[@]}" | median)"
    echo "  zembra resident KiB $(resident_kib "$zembra_pid" VmRSS), highest $(resident_kib "$zembra_pid" VmHWM)"
    kill -TERM "$nginx_pid" "$floor_pid"
    wait "$nginx_pid" "$floor_pid" 2>/dev/null || true
    nginx_pid=""
    floor_pid=""
}

readcard_part() {
    local url="http://127.0.0.1:$zembra_port/readcard"
    curl -s -o /dev/null "http://127.0.0.1:$zembra_port/opendevice"
    echo "/readcard: sample card with photo, answers of $(wire_size "$zembra_port" /readcard) bytes on the wire, 10 connections, ${seconds} s"
    rate 10 "$url" >/dev/null  # warm-up
    echo "  $(rate 10 "$url") answers/s"
    perf record -q -o "$work/perf.data" -p "$zembra_pid" -- sleep "$seconds" 2>/dev/null &
    local perf_pid=$!
    rate 10 "$url" >/dev/null
    wait "$perf_pid" || true
    echo "  profile of the same load, by where the time went (perf, ${seconds} s):"
    perf report -q -i "$work/perf.data" --sort dso --stdio 2>/dev/null | awk 'NF { printf "    %s\n", $0 }' | head -8
    curl -s -o /dev/null "http://127.0.0.1:$zembra_port/closedevice"
}

syscalls_part() {
    local url="http://127.0.0.1:$zembra_port/getdevicestatus"
    rate 50 "$url" >/dev/null  # warm-up
    strace -c -f -o "$work/strace" -p "$zembra_pid" 2>/dev/null &
    local strace_pid=$!
    while [ "$(awk '/^TracerPid:/ { print $2 }' "/proc/$zembra_pid/status")" = 0 ]; do sleep 0.1; done
    local answered
    answered="$(BENCH_REQUESTS="$requests" "${client_cpu[@]}" wrk -t1 -c50 -d60s -s "$root/bench/webservice/fixed_count.lua" "$url" |
        awk '/requests in/ { print $1 }')"
    kill -INT "$strace_pid"; wait "$strace_pid" 2>/dev/null || true
    echo "system calls of zembra over $answered status requests, 50 keep-alive connections (strace -c):"
    awk -v n="$answered" '$1 ~ /^[0-9.]+$/ && NF >= 5 && $NF != "total" {
            name = $NF; calls = $4
            printf "  %-16s %9d  %.3f a request\n", name, calls, calls / n; total += calls
        }
        END { printf "  %-16s %9d  %.3f a request\n", "all", total, total / n }' "$work/strace"
}

start_zembra
for part in "${parts[@]}"; do
    case "$part" in
        status) status_part ;;
        readcard) readcard_part ;;
        syscalls) syscalls_part ;;
        *) echo "zembra_cost: no part $part (status, readcard, syscalls)" >&2; exit 2 ;;
    esac
done
