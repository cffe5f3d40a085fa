# Sourced by scripts/test: starts the private services the tests use as
# children of the calling shell, and stops them again.
#   pulse: a PulseAudio server with a null default sink and a 440 Hz fake
#          microphone (PULSE_SERVER);
#   x:     Xvfb with one 1512x982 screen (DISPLAY);
#   dbus:  a session bus (DBUS_SESSION_BUS_ADDRESS).
# Every test that needs a service of its own state starts a private one.

service_pids=()

start_pulse() {
    local dir=$1
    mkdir -p "$dir/home" "$dir/xdg"
    chmod 700 "$dir/xdg"
    cat >"$dir/ci.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
load-module module-null-sink sink_name=testsink rate=48000 channels=2
load-module module-null-sink sink_name=micsink rate=48000 channels=1
load-module module-sine sink=micsink frequency=440
load-module module-remap-source source_name=testmic master=micsink.monitor
load-module module-null-sink sink_name=drain
load-module module-loopback source=testsink.monitor sink=drain latency_msec=40 source_dont_move=1 sink_dont_move=1
load-module module-loopback source=micsink.monitor sink=drain latency_msec=40 source_dont_move=1 sink_dont_move=1
set-default-sink testsink
set-default-source testmic
suspend-sink testsink 1
suspend-sink testsink 0
suspend-sink micsink 1
suspend-sink micsink 0
PA
    HOME=$dir/home XDG_RUNTIME_DIR=$dir/xdg pulseaudio -n -F "$dir/ci.pa" --daemonize=no \
        --exit-idle-time=-1 --disallow-exit --use-pid-file=no --log-target=file:"$dir/pulse.log" &
    service_pids+=($!)
    export PULSE_SERVER=unix:$dir/native
    for _ in $(seq 100); do
        HOME=$dir/home pactl info >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    echo "pulseaudio did not start; see $dir/pulse.log" >&2
    return 1
}

start_x() {
    local dir=$1 display
    for display in $(seq 90 130); do
        [ -e /tmp/.X11-unix/X$display ] || [ -e /tmp/.X$display-lock ] || break
    done
    Xvfb ":$display" -screen 0 1512x982x24 -noreset -nolisten tcp >"$dir/xvfb.log" 2>&1 &
    service_pids+=($!)
    export DISPLAY=:$display
    for _ in $(seq 100); do
        [ -e "/tmp/.X11-unix/X$display" ] && xrandr >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    echo "Xvfb did not start; see $dir/xvfb.log" >&2
    return 1
}

start_dbus() {
    local dir=$1
    dbus-daemon --session --nofork --nopidfile --address="unix:path=$dir/bus" >"$dir/dbus.log" 2>&1 &
    service_pids+=($!)
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/bus
    for _ in $(seq 100); do
        [ -S "$dir/bus" ] && return 0
        sleep 0.05
    done
    echo "dbus-daemon did not start; see $dir/dbus.log" >&2
    return 1
}

start_services() {
    service_dir=$(mktemp -d /tmp/tarvio-services.XXXXXX)
    start_pulse "$service_dir/pulse"
    start_x "$service_dir"
    start_dbus "$service_dir"
}

stop_services() {
    local pid
    for pid in "${service_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${service_pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    service_pids=()
    [ -n "${service_dir:-}" ] && rm -rf "$service_dir"
}
