#!/usr/bin/env bash
# wavepreview --video, read back with ffprobe and ffmpeg. The last frame must be the picture
# that -o writes for the same run: exactly for the lossless formats, within the codec's loss
# for H.264. Usage: video_test.sh WAVEPREVIEW SCRATCH_DIR CASE
set -uo pipefail
preview=$1
dir=$2/video-$3
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir" || exit 1

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
expect_eq() { # what, got, want
    [ "$2" = "$3" ] || fail "$1: got '$2', want '$3'"
}
probe() { # file, stream, entry
    ffprobe -v error -select_streams "$2" -count_frames -show_entries "stream=$3" \
        -of default=nw=1:nk=1 "$1"
}
rgba() {
    ffmpeg -nostdin -v error -i "$1" -map 0:v -f rawvideo -pix_fmt rgba -
}

# 1.5 s of a 44.1 kHz file: 66150 samples, paint ticks at 0, 1/30, ..., 1.5 s.
# A 330 Hz tone that swells and fades, so that the scrolling envelope changes from frame to frame.
ffmpeg -v error -f lavfi -i "aevalsrc=sin(2*PI*330*t)*(0.55+0.45*sin(2*PI*1.7*t)):s=44100:d=1.5" \
    -c:a pcm_s16le input.wav
run=(-q -i input.wav --size 160x48 --set "Display Type=5ms" --color Background=#203040)

case $3 in
lossless)
    # Odd reads, so that the sound's lead wraps around its buffer at odd places.
    "$preview" "${run[@]}" --block 100 --set GUI_FX_Mode=Solid+Smooth --video v.mkv -o last.png ||
        fail "the run failed"
    expect_eq "frames" "$(probe v.mkv v:0 nb_read_frames)" 46
    expect_eq "size" "$(probe v.mkv v:0 width),$(probe v.mkv v:0 height)" "160,48"
    expect_eq "container duration" "$(ffprobe -v error -show_entries format=duration \
        -of default=nw=1:nk=1 v.mkv | cut -c1-5)" "1.533"
    expect_eq "sound rate" "$(probe v.mkv a:0 sample_rate)" 44100
    expect_eq "sound bytes" "$(ffmpeg -nostdin -v error -i v.mkv -map 0:a -f s16le - | wc -c)" \
        $((66150 * 2))
    cmp -s <(ffmpeg -nostdin -v error -i v.mkv -map 0:a -f s16le -) \
        <(ffmpeg -nostdin -v error -i input.wav -f s16le -) || fail "the sound differs from the input"
    rgba v.mkv | tail -c $((160 * 48 * 4)) | cmp -s - <(rgba last.png) ||
        fail "the last FFV1 frame differs from the PNG"
    # A duration shorter than the file: the sound ends where the pictures do.
    "$preview" "${run[@]}" --duration 0.5 --video short.mkv || fail "the short run failed"
    expect_eq "sound bytes of a cut file" \
        "$(ffmpeg -nostdin -v error -i short.mkv -map 0:a -f s16le - | wc -c)" $((22050 * 2))
    # Names that ffmpeg would read as a protocol and a resource.
    for name in 12:30.mkv clip:1.gif; do
        "$preview" -q --duration 0.2 --video "$name" || fail "--video $name failed"
        expect_eq "frames of $name" "$(probe "file:$name" v:0 nb_read_frames)" 7
    done
    # A few flat colours: a palette per frame holds them all.
    "$preview" "${run[@]}" --set GUI_FX_Mode=Line --video v.gif -o line.png || fail "GIF failed"
    expect_eq "GIF frames" "$(probe v.gif v:0 nb_read_frames)" 46
    rgba v.gif | tail -c $((160 * 48 * 4)) | cmp -s - <(rgba line.png) ||
        fail "the last GIF frame differs from the PNG"
    ;;
lossy)
    "$preview" "${run[@]}" --set GUI_FX_Mode=Solid --video v.mp4 -o last.png ||
        fail "the run failed"
    expect_eq "frames" "$(probe v.mp4 v:0 nb_read_frames)" 46
    expect_eq "size" "$(probe v.mp4 v:0 width),$(probe v.mp4 v:0 height)" "160,48"
    expect_eq "codecs" "$(probe v.mp4 v:0 codec_name),$(probe v.mp4 a:0 codec_name)" "h264,aac"
    expect_eq "sound duration" "$(probe v.mp4 a:0 duration)" "1.500000"
    psnr() { # frame number
        ffmpeg -hide_banner -i v.mp4 -i last.png \
            -filter_complex "[0:v]select=eq(n\,$1)[v];[v][1:v]psnr" -f null - 2>&1 |
            sed -n 's/.*average:\([0-9.]*\).*/\1/p' | cut -d. -f1
    }
    last=$(psnr 45)
    [ "${last:-0}" -ge 35 ] || fail "the last frame is $last dB from the PNG, want 35 or more"
    earlier=$(psnr 30) # the envelope has scrolled since: the comparison must see it
    [ "${earlier:-99}" -lt 25 ] || fail "frame 30 is $earlier dB from the last PNG"
    # An odd size and a fractional rate: VP9 keeps the size, H.264 gains a row and a column.
    "$preview" "${run[@]}" --size 161x49 --fps 12.5 --video odd.webm || fail "WebM failed"
    expect_eq "WebM codecs" "$(probe odd.webm v:0 codec_name),$(probe odd.webm a:0 codec_name)" \
        "vp9,opus"
    expect_eq "WebM frames" "$(probe odd.webm v:0 nb_read_frames)" 19
    expect_eq "WebM size" "$(probe odd.webm v:0 width),$(probe odd.webm v:0 height)" "161,49"
    expect_eq "WebM rate" "$(probe odd.webm v:0 r_frame_rate)" "25/2"
    "$preview" "${run[@]}" --size 161x49 --video odd.mp4 || fail "odd H.264 failed"
    expect_eq "H.264 size" "$(probe odd.mp4 v:0 width),$(probe odd.mp4 v:0 height)" "162,50"
    ;;
errors)
    check_refused() { # status, message, command...
        local want=$1 message=$2
        shift 2
        out=$("$@" 2>&1)
        local got=$?
        expect_eq "exit status of $*" "$got" "$want"
        grep -qF -- "$message" <<<"$out" || fail "no \"$message\" in: $out"
    }
    echo old >kept.mp4
    check_refused 2 "the name must end in .mp4, .webm, .mkv, .gif, .webp" \
        "$preview" "${run[@]}" --video v.avi
    check_refused 2 "no video format for \"v.mkv/v\"" "$preview" "${run[@]}" --video v.mkv/v
    check_refused 1 "cannot write missing/v.mp4" "$preview" "${run[@]}" --video missing/v.mp4
    check_refused 1 "needs the ffmpeg program" \
        env PATH=/nonexistent "$preview" "${run[@]}" --video kept.mp4
    # An ffmpeg that gives up at once: the old file stays as it was, the new one leaves no trace.
    mkdir -p fake && printf '#!/bin/sh\necho "refused" >&2\nexit 3\n' >fake/ffmpeg
    chmod +x fake/ffmpeg
    check_refused 1 "ffmpeg stopped (exit status 3); kept.mp4 not written" \
        env PATH="$PWD/fake:$PATH" "$preview" "${run[@]}" --video kept.mp4
    expect_eq "the old file" "$(cat kept.mp4)" old
    # Stopped half-way by a signal.
    "$preview" -q --duration 600 --video stopped.mp4 &
    sleep 1 && kill -TERM $!
    wait $! && fail "a stopped run reported success"
    expect_eq "files left" "$(ls -A | tr '\n' ' ')" "fake input.wav kept.mp4 "
    ;;
esac

[ "$failures" = 0 ] && echo "video $3: passed"
exit $((failures > 0))
