#!/usr/bin/env bash
# tools_test.sh - checks marlune_wavtool and marlune_shot on files made with sox
# and ImageMagick, so that a failing e2e test can be trusted to measure right.
#
# Usage: tools_test.sh   (environment: MARLUNE_WAVTOOL, MARLUNE_SHOT,
#                         optional MARLUNE_E2E_OUT for the generated files)
# Needs no display or sound server.
set -uo pipefail
here=$(cd "$(dirname -- "$0")" && pwd)
source "$here/lib.sh"
e2e_init
d=$E2E_OUT

# Pitch: pure and harmonic-rich tones, several formats, within 0.5 cent.
sox -n -r 44100 -c 2 -b 16 "$d/a440.wav" synth 1.5 sine 440 vol 0.5
sox -n -r 44100 -c 1 -b 24 "$d/c4saw.wav" synth 1 sawtooth 261.6256 vol 0.5
sox -n -r 44100 -c 2 -e floating-point -b 32 "$d/e2square.wav" synth 1 square 82.4069 vol 0.3
sox -n -r 44100 -c 1 -b 16 "$d/high.wav" synth 1 sine 1975.533 vol 0.5
e2e_assert_pitch "$d/a440.wav" 0.2 1.2 440 0.5
e2e_assert_pitch "$d/c4saw.wav" 0.1 0.9 261.6256 0.5
e2e_assert_pitch "$d/e2square.wav" 0.1 0.9 82.4069 0.5
e2e_assert_pitch "$d/high.wav" 0.1 0.5 1975.533 0.5

# Levels: a 0.5 sine has RMS 0.354 and peak 0.5; one channel of a file.
e2e_check "$(e2e_wav_rms "$d/a440.wav") > 0.35 && $(e2e_wav_rms "$d/a440.wav") < 0.36" "RMS of a 0.5 sine"
e2e_check "$(e2e_wav_peak "$d/a440.wav" 0 1 1) > 0.49" "peak of channel 1"

# Silence then a click train: onsets at 0.5, 0.75 and 1.0 s (sample exact),
# none in the silence.
sox -n -r 44100 -c 2 -b 16 "$d/silence.wav" trim 0 0.5
sox -n -r 44100 -c 2 -b 16 "$d/blip.wav" synth 0.05 square 1000 vol 0.5 fade t 0 0.05 0.03
sox -n -r 44100 -c 2 -b 16 "$d/gap.wav" trim 0 0.2
sox "$d/silence.wav" "$d/blip.wav" "$d/gap.wav" "$d/blip.wav" "$d/gap.wav" "$d/blip.wav" "$d/clicks.wav"
e2e_assert_silence "$d/clicks.wav" 0 0.5
e2e_assert_sound "$d/clicks.wav" 0.5 0.55 0.1
onsets=$(e2e_wav_onsets "$d/clicks.wav" 0.05 50 | awk '{ printf "%s ", $1 }')
[ "$onsets" = "22050 33075 44100 " ] || e2e_fail "onsets are '$onsets', want '22050 33075 44100 '"

# Envelope: a 0.2 s linear fade-in rises window by window.
sox -n -r 44100 -c 1 -b 16 "$d/fade.wav" synth 0.4 sine 300 vol 0.8 fade t 0.2
"$MARLUNE_WAVTOOL" envelope "$d/fade.wav" 50 >"$d/fade.txt" || e2e_fail "envelope failed"
awk 'NR > 1 && NR <= 4 && $2 <= prev { exit 1 } { prev = $2 }' "$d/fade.txt" \
  || e2e_fail "fade-in envelope does not rise: $(tr '\n' ' ' <"$d/fade.txt")"
[ "$(wc -l <"$d/fade.txt")" = 8 ] || e2e_fail "envelope of 0.4 s in 50 ms windows has not 8 lines"

# Gaps: two dropouts (5 ms and 2 ms of silence) inside a tone are found at their places; a
# 0.5 ms one is shorter than the 1 ms minimum, and the silence before and after the tone is
# not inside the sound.
sox -n -r 44100 -c 2 -b 16 "$d/tone.wav" synth 0.3 sine 300 vol 0.5
sox -n -r 44100 -c 2 -b 16 "$d/hole5.wav" trim 0 0.005
sox -n -r 44100 -c 2 -b 16 "$d/hole2.wav" trim 0 0.002
sox -n -r 44100 -c 2 -b 16 "$d/hole0.5.wav" trim 0 0.0005
sox "$d/silence.wav" "$d/tone.wav" "$d/hole5.wav" "$d/tone.wav" "$d/hole2.wav" "$d/tone.wav" \
  "$d/hole0.5.wav" "$d/tone.wav" "$d/silence.wav" "$d/dropouts.wav"
"$MARLUNE_WAVTOOL" gaps "$d/dropouts.wav" >"$d/gaps.txt" || e2e_fail "wavtool gaps failed"
got=$(awk '$1 != "gaps" { printf "%.3f/%.1f ", $1, $2 } $1 == "gaps" { printf "n=%s", $2 }' "$d/gaps.txt")
[ "$got" = "0.800/5.0 1.105/2.0 n=2" ] || e2e_fail "gaps are '$got', want '0.800/5.0 1.105/2.0 n=2'"

# Header validation: truncated, padded and lying headers are refused.
"$MARLUNE_WAVTOOL" info "$d/a440.wav" | grep -qx 'header ok' || e2e_fail "good header refused"
head -c 30000 "$d/a440.wav" >"$d/truncated.wav"
cat "$d/a440.wav" <(printf 'junk') >"$d/trailing.wav"
cp "$d/a440.wav" "$d/riffsize.wav"
printf '\x00\x00\x00\x00' | dd of="$d/riffsize.wav" bs=1 seek=4 conv=notrunc status=none
for bad in truncated trailing riffsize; do
  if "$MARLUNE_WAVTOOL" info "$d/$bad.wav" >/dev/null 2>"$d/$bad.err"; then
    e2e_fail "wavtool accepted the $bad file"
  fi
  grep -q . "$d/$bad.err" || e2e_fail "wavtool gave no message for the $bad file"
done
if "$MARLUNE_WAVTOOL" pitch "$d/silence.wav" 0 0.5 >/dev/null 2>&1; then
  e2e_fail "wavtool found a pitch in silence"
fi

# Pixels: y counts from the bottom row.
convert -size 40x30 xc:'rgb(0,0,255)' -fill 'rgb(255,0,0)' -draw 'point 0,29' \
  -fill 'rgb(0,255,0)' -draw 'rectangle 30,0 39,9' "$d/pixels.png" || e2e_fail "cannot draw test image"
[ "$("$MARLUNE_SHOT" size "$d/pixels.png")" = "40 30" ] || e2e_fail "shot size"
e2e_assert_pixel "$d/pixels.png" 0 0 255 0 0 0        # bottom-left
e2e_assert_pixel "$d/pixels.png" 35 25 0 255 0 0      # top-right block
e2e_assert_pixel "$d/pixels.png" 10 10 0 0 255 0
[ "$(e2e_region_mean "$d/pixels.png" 30 20 10 10)" = "0.0 255.0 0.0" ] || e2e_fail "region mean"
if "$MARLUNE_SHOT" pixel "$d/pixels.png" 40 0 >/dev/null 2>&1; then e2e_fail "pixel outside accepted"; fi
e2e_pass
