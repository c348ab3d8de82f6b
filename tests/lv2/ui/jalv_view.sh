#!/usr/bin/env bash
# The plug-in with its view in jalv's GTK host on a virtual X server, with a JACK server on its
# dummy driver and JACK's sine example client playing into the plug-in. Screenshots of the area
# jalv gives the view must show the view filling it from the first picture, with a trace that
# moves while "Active" is ON (as the plug-in starts), fill it again once the window is made
# larger, and stand still once a preset chosen from jalv's Presets menu (with the keyboard, as a
# user would) has set HOLD.
#
#   jalv_view.sh LV2_PATH WORK_DIR        exits 77 (skipped) when a program it needs is missing
set -uo pipefail
bundles=$1
work=$2
uri=urn:strip-viewer:display

for tool in jalv.gtk3 Xvfb jackd jack_simple_client jack_connect jack_lsp xdotool xwininfo import \
    compare identify convert; do
    command -v "$tool" >/dev/null || { echo "skipped: no $tool (scripts/setup installs it)"; exit 77; }
done

rm -rf "$work"
mkdir -p "$work/home" "$work/presets/hold.preset.lv2"
export HOME=$work/home LV2_PATH=$bundles:$work/presets JACK_DEFAULT_SERVER=stripviewer$$
pids=()
cleanup() { # last started first, each given 5 s to end
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null
        timeout 5 tail --pid="${pids[i]}" -f /dev/null || kill -9 "${pids[i]}" 2>/dev/null
    done
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    tail -n 20 "$work"/*.log
    exit 1
}
# Tries the command every tenth of a second, at most $1 times; an answer of 2 ends the wait.
wait_for() {
    local tries=$1 status
    shift
    for _ in $(seq "$tries"); do
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
<#hold> a pset:Preset ; lv2:appliesTo <$uri> ; rdfs:label "Hold" ;
    lv2:port [ lv2:symbol "active" ; pset:value 2.0 ] .
EOF

Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for 100 grep -q '[0-9]' "$work/display" || fail "Xvfb gave no display number"
export DISPLAY=:$(head -n 1 "$work/display")
jackd --no-realtime -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
pids+=($!)
wait_for 100 jack_lsp || fail "the JACK server did not start"

jalv.gtk3 -x --jack-name viewtest "$uri" >"$work/jalv.log" 2>&1 &
jalv=$!
pids+=($jalv)
jack_simple_client >"$work/sine.log" 2>&1 &
pids+=($!)
connect() {
    kill -0 "$jalv" 2>/dev/null || return 2
    jack_connect jack_simple_client:output1 viewtest:audio_in
}
wait_for 100 connect || fail "could not connect the sine to the plug-in"
view_window() { xwininfo -root -tree | awk '/"strip viewer"/ { print $1; exit }'; }
has_view() { [ -n "$(view_window)" ]; }
wait_for 100 has_view || fail "jalv shows no view window"
view=$(view_window)
area=$(xwininfo -id "$view" -tree | awk '/Parent window id:/ { print $4 }')
[ -n "$area" ] || fail "the view window $view has no parent"
top=$(xdotool search --onlyvisible --pid "$jalv" --name . | head -n 1)

# The host's area, with the view in it: what a user sees.
shot() { import -window "$area" "$work/$1.png" || fail "no screenshot $1"; }
# Rows with anything but the black background: an empty trace is one line.
rows_drawn() {
    convert "$work/$1.png" -colorspace Gray -scale '1x!' -depth 8 txt:- | grep -v '^#' |
        grep -vc '#000000'
}
difference() { compare -metric AE "$work/$1.png" "$work/$2.png" null: 2>&1; }
# Percent of the picture's edge (East or South) not in the view's black background: a view
# smaller than the area leaves the host's own colour there.
edge_foreign() {
    convert "$work/$1.png" -gravity "$2" -crop "$([ "$2" = East ] && echo 1x0 || echo 0x1)+0+0" \
        +repage -fill white +opaque black -format '%[fx:round(100*mean)]' info:
}
# The view fills the area: a trace right of the 200 pixels a default-sized window would cover,
# and the background along the right and bottom edges (the trace may cross them).
fills() {
    convert "$work/$1.png" -crop +200+0 +repage "$work/$1-right.png" &&
        [ "$(rows_drawn "$1-right")" -ge 10 ] &&
        [ "$(edge_foreign "$1" East)" -le 20 ] && [ "$(edge_foreign "$1" South)" -le 20 ]
}
fill_report() {
    echo "$(identify -format %wx%h "$work/$1.png") area, view $(xwininfo -id "$view" |
        awk '/Width:/ { w = $2 } /Height:/ { print w "x" $2 }'), $(rows_drawn "$1-right") rows" \
        "drawn right of x=200, $(edge_foreign "$1" East)% / $(edge_foreign "$1" South)% of the" \
        "right / bottom edge not background"
}

traced() { shot on1 && [ "$(rows_drawn on1)" -ge 10 ] && fills on1; }
wait_for 100 traced || fail "no trace filling the area while ON: $(fill_report on1)"
moved() { shot on2 && [ "$(difference on1 on2)" != 0 ]; }
wait_for 30 moved || fail "the view stands still while ON"
echo "ON: $(rows_drawn on1) rows drawn, $(difference on1 on2) pixels changed; $(fill_report on1)"

width_of() { xwininfo -id "$view" | awk '/Width:/ { print $2 }'; }
before=$(width_of)
xdotool windowsize "$top" 600 220
grown() { [ "$(width_of)" -gt "$before" ] && shot grown && fills grown; }
wait_for 50 grown || fail "the view did not fill a larger window (was $before wide): $(fill_report grown)"
echo "resized: $before -> $(fill_report grown)"

# F10 opens the menu bar, Right the Presets menu, where "Hold" follows "Save Preset..." and
# "Delete Current Preset...". Keys can outrun a busy host: a try that leaves the view moving is
# closed with Escape and made again.
xdotool windowfocus --sync "$top"
held() { shot hold1 && sleep 1 && shot hold2 && [ "$(difference hold1 hold2)" = 0 ]; }
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
kill -0 "$jalv" 2>/dev/null || fail "jalv ended early"
echo "HOLD: $(rows_drawn hold1) rows drawn, no pixel changed in 1 s (try $try)"
