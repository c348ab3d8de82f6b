#!/usr/bin/env bash
# The plug-in with its view in jalv's GTK host, on a virtual X server, with a JACK server on its
# dummy driver and JACK's sine-wave example client playing into the plug-in's input. Screenshots
# of the view must show a trace, change while "Active" is ON and stand still once a preset has
# switched it to HOLD (chosen from jalv's Presets menu with the keyboard, as a user would).
#
#   jalv_view.sh BUNDLE_PARENT_DIR WORK_DIR [SCREENSHOT.png]
#
# With a third argument the host's whole window, view and menu bar, is saved there.
# Exits 77 (skipped) when a program it needs is missing.
set -uo pipefail

bundles=$1
work=$2
keep=${3:-}
uri=urn:strip-viewer:display

for tool in jalv.gtk3 Xvfb jackd jack_simple_client jack_connect jack_lsp xdotool xwininfo import \
    compare identify convert; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: $tool is not installed (scripts/setup installs it)"
        exit 77
    fi
done

rm -rf "$work"
mkdir -p "$work/home" "$work/presets/hold.preset.lv2"
export HOME=$work/home # no user presets or settings of the machine's own
export LV2_PATH=$bundles:$work/presets
export JACK_DEFAULT_SERVER=stripviewer$$
export JACK_NO_AUDIO_RESERVATION=1
pids=()
cleanup() {
    local pid
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid=${pids[i]}
        kill "$pid" 2>/dev/null
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null
    done
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    for log in "$work"/*.log; do
        echo "--- $log"
        tail -n 20 "$log"
    done
    exit 1
}

# Tries the command for up to $1 tenths of a second (plus the command's own time) until it
# succeeds; a command that answers 2 has found that waiting longer is useless.
wait_for() {
    local tenths=$1 status
    shift
    for _ in $(seq "$tenths"); do
        "$@" >/dev/null 2>&1
        status=$?
        [ "$status" = 0 ] && return 0
        [ "$status" = 2 ] && return 1
        sleep 0.1
    done
    return 1
}

cat >"$work/presets/hold.preset.lv2/manifest.ttl" <<EOF
@prefix lv2: <http://lv2plug.in/ns/lv2core#> .
@prefix pset: <http://lv2plug.in/ns/ext/presets#> .
@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .

<hold.ttl> a pset:Preset ; lv2:appliesTo <$uri> ; rdfs:seeAlso <hold.ttl> .
EOF
cat >"$work/presets/hold.preset.lv2/hold.ttl" <<EOF
@prefix lv2: <http://lv2plug.in/ns/lv2core#> .
@prefix pset: <http://lv2plug.in/ns/ext/presets#> .
@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .

<> a pset:Preset ; lv2:appliesTo <$uri> ; rdfs:label "Hold" ;
    lv2:port [ lv2:symbol "active" ; pset:value 2.0 ] .
EOF

# The X server picks a free display number and writes it down.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for 100 grep -q '[0-9]' "$work/display" || fail "Xvfb gave no display number"
export DISPLAY=:$(head -n 1 "$work/display")

jackd -n "$JACK_DEFAULT_SERVER" --no-realtime -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
pids+=($!)
wait_for 100 jack_lsp || fail "the JACK server did not start"

client=strip_viewer_test
jalv.gtk3 -x --jack-name "$client" -c active=1 "$uri" >"$work/jalv.log" 2>&1 &
jalv=$!
pids+=($jalv)
jack_simple_client >"$work/sine.log" 2>&1 &
pids+=($!)
connect() {
    kill -0 "$jalv" 2>/dev/null || return 2
    jack_connect jack_simple_client:output1 "$client:audio_in"
}
wait_for 100 connect || fail "could not connect the sine to the plug-in"

view_window() {
    xwininfo -root -tree | awk '/"strip viewer"/ { print $1; exit }'
}
has_view() {
    [ -n "$(view_window)" ]
}
wait_for 100 has_view
view=$(view_window)
[ -n "$view" ] || fail "jalv shows no view window"

shot() {
    import -window "$view" "$work/$1.png" || fail "no screenshot $1"
}
# Rows of the picture that hold anything but the black background: an empty trace is one line.
rows_drawn() {
    convert "$work/$1.png" -colorspace Gray -scale '1x!' -depth 8 txt:- |
        grep -v '^#' | grep -vc '#000000'
}
# The number of pixels that differ.
difference() {
    compare -metric AE "$work/$1.png" "$work/$2.png" null: 2>&1
}
traced() {
    shot on1 && [ "$(rows_drawn on1)" -ge 10 ]
}
wait_for 100 traced || fail "the view shows no trace while ON ($(rows_drawn on1) rows drawn)"
moved() {
    shot on2 && [ "$(difference on1 on2)" != 0 ]
}
wait_for 30 moved || fail "the view stands still while ON"
echo "ON: $(rows_drawn on1) rows drawn, $(difference on1 on2) pixels changed"

top=$(xdotool search --onlyvisible --pid "$jalv" --name . | head -n 1)
[ -n "$top" ] || fail "jalv shows no window"
if [ -n "$keep" ]; then
    import -window "$top" "$keep" || fail "no screenshot of the host's window"
fi

# A larger host window: the view follows its parent and paints at the new size.
width_of() {
    xwininfo -id "$view" | awk '/Width:/ { print $2 }'
}
before=$(width_of)
xdotool windowsize "$top" 600 220
grown() {
    [ "$(width_of)" -gt "$before" ]
}
wait_for 50 grown || fail "the view stayed $before pixels wide in a larger window"
sleep 0.3
shot grown
[ "$(identify -format %w "$work/grown.png")" -gt "$before" ] || fail "the view's picture did not grow"
[ "$(rows_drawn grown)" -ge 10 ] || fail "the view shows no trace after growing"
echo "resized: $before -> $(width_of) pixels wide"

# Presets menu: F10 opens the menu bar, Right the second menu; "Hold" follows the two
# entries for saving and deleting presets. Keys can outrun a busy host, so a try that leaves the
# picture moving is closed with Escape and made again.
xdotool windowfocus --sync "$top"
held() {
    shot hold1 && sleep 1 && shot hold2 && [ "$(difference hold1 hold2)" = 0 ]
}
for try in 1 2 3; do
    for key in F10 Right Down Down Down Return; do
        xdotool key "$key"
        sleep 0.3
    done
    sleep 0.5
    held && break
    xdotool key Escape Escape Escape
    [ "$try" = 3 ] && fail "the view kept changing after the preset set HOLD"
done
[ "$(rows_drawn hold1)" -ge 10 ] || fail "the view lost its trace on HOLD"
echo "HOLD: $(rows_drawn hold1) rows drawn, no pixel changed in 1 s (try $try)"
kill -0 "$jalv" 2>/dev/null || fail "jalv ended early"
echo "PASS"
