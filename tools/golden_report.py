#!/usr/bin/env python3
"""Checks a freshly rendered golden performance against music theory and the game's documented
tables, never against the program's own code: chord notes against equal temperament and the
chord table, onsets on the 125 ms step grid, the metronome every half second, the interface
sounds and the menu theme in both channels, the echoes, the recording, and the pads' places in
the pictures. Prints one line per check and exits 1 if any fails.

Usage: golden_report.py RENDER_DIR SCRIPT SFX_DIR
  RENDER_DIR: mix.wav, take.wav, pads.txt, frames.txt, streams.txt of the render
  SCRIPT: the performance script (tests/golden/performance.txt)
  SFX_DIR: the content's sound folder (MarluneContent/sfx)
"""
import math
import re
import struct
import sys
import wave

RATE = 44100
STEP = RATE * 0.125          # frames per step: 16 steps of 0.125 s in a 2 s loop
LOOP = RATE * 2
CHORDS = {                   # semitone offsets of each chord type, in the chord pad's row order
    "MajorScale": [0, 2, 4, 5, 7, 9, 11], "MinorScale": [0, 2, 3, 5, 7, 8, 11],
    "Pentatonic": [0, 2, 5, 7, 9], "WholeTone": [0, 2, 4, 6, 8, 10],
    "Blues": [0, 3, 5, 6, 7, 10], "MajorChord": [0, 4, 7], "MinorChord": [0, 3, 7],
    "Major7": [0, 4, 7, 11], "Minor7": [0, 3, 7, 10], "Dominant7": [0, 4, 7, 10],
    "Sus4": [0, 5, 7], "SingleNote": [0],
}
# The game screen: name, x, y, w, h, pitch multiplier, echo feedback, echo steps.
PADS = [
    ("Chords", 400, 400, 400, 200, None, 0, 0), ("Metronome", 50, 500, 100, 75, None, 0, 0),
    ("Recording", 50, 410, 100, 75, None, 0, 0),
    ("Blip 1", 25, 250, 150, 120, 0.5, 0.25, 3), ("Blip 2", 225, 250, 150, 120, 0.5, 0.25, 3),
    ("Lead 1", 425, 250, 150, 120, 0.5, 0.25, 3), ("Bass 1", 25, 50, 150, 120, 0.125, 0, 1),
    ("Bass 2", 225, 50, 150, 120, 0.125, 0, 1), ("Lead 2", 425, 50, 150, 120, 0.5, 0.4, 4),
    ("Kick", 625, 310, 150, 60, 1, 0, 1), ("Snare", 625, 219, 150, 60, 1, 0, 1),
    ("Closed Hat", 625, 127, 150, 60, 1, 0, 1), ("Open Hat", 625, 35, 150, 60, 1, 0, 1),
]
# Interface sounds in the order the mixer adds them, and whether they peak at 0.75 (or full
# scale). Every sound file is read normalised to full scale.
EFFECTS = [("start", True), ("stop", True), ("select", False), ("loaded", True), ("quit", True)]

failures = 0


def check(ok, text):
    global failures
    print(("  ok    " if ok else "  FAIL  ") + text)
    failures += 0 if ok else 1


def read_wav(path):
    with wave.open(path, "rb") as w:
        assert w.getsampwidth() == 2
        n, ch = w.getnframes(), w.getnchannels()
        data = struct.unpack("<%dh" % (n * ch), w.readframes(n))
    return [data[c::ch] for c in range(ch)], w.getframerate(), w.getnchannels()


def key_frequency(key):
    return 440.0 * 2.0 ** ((key - 69) / 12.0)


def chord_key(root, offsets, row):
    return root + 12 * (row // len(offsets)) + offsets[row % len(offsets)]


def to_sample(v):
    s = v * 32767.0
    if s >= 32767.0:
        return 32767
    if s <= -32767.0:
        return -32767
    return int(s - 0.5) if s < 0 else int(s + 0.5)


def read_script(path):
    script = []
    for line in open(path):
        words = line.split("#")[0].split()
        if len(words) >= 2:
            script.append((float(words[0]), words[1], words[2:]))
    return script


def main():
    render, script_path, sfx = sys.argv[1:4]
    script = read_script(script_path)
    starts = [int(x) for x in open(render + "/streams.txt").read().split()]
    (mixL, mixR), _, _ = read_wav(render + "/mix.wav")
    game = starts[-1]                      # the game plays on the last stream
    rows = {}
    for line in open(render + "/pads.txt"):
        m = re.match(r"(\d+) (\d+) (.+): (\d+) (\d+) (\S+) (\S+)", line)
        if m:
            rows[(int(m[1]), int(m[2]), m[3])] = (int(m[4]), int(m[5]),
                                                  None if m[6] == "-" else int(m[6]), float(m[7]))
    # Script times on the game's stream: the commands after the last buffer-size change, which
    # goes through the menu's sizes from 512 frames.
    sizes = [64, 128, 256, 512, 1024, 2048]
    reopens = [i for i, c in enumerate(script) if c[1] == "key" and c[2] == ["return"]][:len(starts) - 1]
    game_cmds = script[reopens[-1] + 1:]
    buffer2 = sizes[(sizes.index(512) + len(reopens)) % len(sizes)]

    print("Chords: every chord type's notes against equal temperament")
    types, roots = set(), set()
    for t, name, a in game_cmds:
        if name != "expect":
            continue
        pad, loop, step, root, ctype, row = a[0].replace("_", " "), int(a[2]), int(a[4]), int(a[6]), a[7], int(a[9])
        mult = next(p[5] for p in PADS if p[0] == pad)
        key = chord_key(root, CHORDS[ctype], row)
        want = key_frequency(key) * mult
        got = rows.get((loop, step, pad), (0, 0, None, 0.0))[3]
        cents = 1200 * math.log2(got / want) if got > 0 else float("inf")
        check(abs(cents) < 10, "%s loop %d step %d: %s on %d row %d is key %d, %.2f Hz; heard %.1f Hz (%+.1f cents)"
              % (pad, loop, step, ctype, root, row, key, want, got, cents))
        types.add(ctype)
        roots.add(root)
    check(types == set(CHORDS), "every chord type is heard (%d of %d)" % (len(types), len(CHORDS)))
    check(len(roots) >= 3, "several roots are heard (%s)" % sorted(roots))
    # Every note the melodic pads sound, stated or not (the drums play their samples as
    # recorded), is a key of equal temperament at its pad's octave.
    melodic = {p[0]: p[5] for p in PADS if p[5] not in (None, 1)}
    heard = [(k, r[3]) for k, r in sorted(rows.items()) if k[2] in melodic and r[3] > 0]
    off = [(k, f) for k, f in heard
           if abs(math.remainder(12 * math.log2(f / melodic[k[2]] / 440.0), 1.0)) > 0.1]
    check(heard and not off, "%d pitched notes of the melodic pads within 10 cents of a key %s"
          % (len(heard), off[:3]))

    print("Onsets on the 125 ms grid")
    late = int(STEP * 0.25) + buffer2      # a click counts up to a quarter step, one buffer late
    bad = [(k, r[2]) for k, r in rows.items() if r[2] is not None and
           not 0 <= r[2] - math.ceil((k[0] * 16 + k[1]) * STEP) < late + buffer2]
    check(not bad, "every onset lies within %d frames of its step's start %s" % (late + buffer2, bad[:3]))
    replay = [(k, r[2]) for k, r in rows.items() if r[2] is not None and k[2] in ("Kick", "Snare", "Open Hat")
              and (k[0] - 1, k[1], k[2]) in rows]
    bad = [(k, o) for k, o in replay
           if not 0 <= o - math.ceil(math.ceil((k[0] * 16 + k[1]) * STEP) / buffer2) * buffer2 < 8]
    check(replay and not bad, "%d drum notes replayed by the pattern start in the first buffer of their step %s"
          % (len(replay), bad[:3]))

    print("Metronome: a click every 0.5 s while on, silence while off")
    on, off = [t for t, n, a in game_cmds if n in ("click", "hold") and a[:2] == ["100", "537"]][:2]
    beats = [b for b in range(int(on / 0.5) + 1, int(off / 0.5) + 1)]
    clicks = sorted(r[2] for k, r in rows.items() if k[2] == "Metronome" and r[2] is not None)
    want = [math.ceil(b * 0.5 * RATE / buffer2) * buffer2 for b in beats]
    check(len(clicks) == len(want) and all(0 <= c - w < 8 for c, w in zip(clicks, want)),
          "%d clicks, one at each beat from %.2f s to %.2f s, in the beat's first buffer" % (len(clicks), on, off))
    after = [k for k in rows if k[2] == "Metronome" and (k[0] * 16 + k[1]) * STEP > off * RATE + buffer2]
    check(not after, "no sound from the metronome once it is off %s" % after[:3])
    cut = [r[1] for k, r in sorted(rows.items()) if k[2] == "Metronome"]
    check(cut[-1] < cut[-2], "switching off cuts the sounding click (%d of %d)" % (cut[-1], cut[-2]))

    print("Echoes: three steps later at a quarter of the level, at the note's pitch")
    for pad, loop, step in [("Blip 1", 1, 1), ("Blip 2", 1, 9), ("Blip 2", 3, 9)]:
        p = next(p for p in PADS if p[0] == pad)
        delay = int(RATE * 0.125 * p[7])
        note = rows[(loop, step, pad)]
        s = loop * 16 + step + p[7]
        echo = rows.get((s // 16, s % 16, pad), (0, 0, None, 0))
        cents = 1200 * math.log2(echo[3] / note[3]) if echo[3] > 0 and note[3] > 0 else 0.0
        check(abs(echo[0] - note[0] * p[6]) <= 2 and echo[2] is not None and abs(echo[2] - note[2] - delay) <= 1
              and (echo[3] > 0) == (note[3] > 0) and abs(cents) < 10,
              "%s: echo of the note of loop %d step %d at %d frames (%d steps), peak %d of %d (%.3f), "
              "%.1f Hz of %.1f Hz" % (pad, loop, step, (echo[2] or 0) - note[2], p[7], echo[0], note[0],
                                      echo[0] / note[0], echo[3], note[3]))

    print("Menu: the theme and each interface sound, in both channels")
    def normalised(name, peak=None):
        # Read as 16-bit over 32768 and scaled to a peak of 1.0 on opening; then to peak.
        (l, r), _, _ = read_wav("%s/%s.wav" % (sfx, name))
        data = [[x / 32768.0 for x in l], [x / 32768.0 for x in r]]
        for p in (1.0,) if peak is None else (1.0, peak):
            g = (1.0 / max(abs(x) for c in data for x in c)) * p
            data = [[x * g for x in c] for c in data]
        return data
    sounds = {name: normalised(name, 0.75 if norm else None) for name, norm in EFFECTS}
    tl, tr = normalised("menu_theme")
    # Buffers and the sound each command starts, on the mix's frames.
    events = {}   # mix frame of the buffer that applies it -> list of (kind, value)
    stream, menu, selection, buf = 0, True, 0, 512
    for t, name, a in script:
        f = starts[stream] + math.ceil(t * RATE / buf) * buf
        add = lambda e: events.setdefault(f, []).append(e)
        if name == "startup":
            add(("sound", "loaded")); add(("fade", 1.0))
        elif name == "key" and menu:
            k = a[0]
            if k in ("up", "down"):
                selection = max(0, min(2, selection + (1 if k == "down" else -1)))
                add(("sound", "select"))
            elif k == "escape":
                if selection == 2:
                    add(("fade", 0.0)); add(("sound", "quit"))
                selection = 2
            elif k == "return" and selection == 1:
                stream, buf = stream + 1, sizes[(sizes.index(buf) + 1) % len(sizes)]
                events.setdefault(starts[stream], []).append(("sound", "loaded"))
            elif k == "return" and selection == 0:
                menu = False
                add(("fade", 0.0)); add(("sound", "start"))
                first_pad_sound = game + min(math.ceil((k[0] * 16 + k[1]) * STEP) for k in rows)
        elif name == "key" and not menu and a[0] == "escape":
            menu, selection = True, 0
            add(("fade", 1.0)); add(("sound", "stop"))
            back = f
    env, target, playing = 0.0, 0.0, {}
    worst, where, checked = 0, None, 0
    f = -1
    while f + 1 < len(mixL):
        f += 1
        if f == first_pad_sound:
            # While the game's pads sound nothing is compared: the fade and the interface sounds
            # only move on, from one command's buffer to the next.
            for g in sorted(e for e in events if first_pad_sound < e < back) + [back]:
                for kind, v in events.get(f, []):
                    if kind == "sound":
                        playing[v] = 0
                    else:
                        target = v
                n = g - f
                env = min(target, env + n / RATE) if env < target else max(target, env - n / RATE)
                playing = {name: i + n for name, i in playing.items()}
                f = g
        for kind, v in events.get(f, []):
            if kind == "sound":
                playing[v] = 0
            else:
                target = v
        theme = f % len(tl)
        if env < target:
            env = min(target, env + 1.0 / RATE)
        elif env > target:
            env = max(target, env - 1.0 / RATE)
        left, right = tl[theme] * env, tr[theme] * env
        for name, _ in EFFECTS:
            i = playing.get(name)
            if i is not None and i < len(sounds[name][0]):
                left += sounds[name][0][i]
                right += sounds[name][1][i]
                playing[name] = i + 1
        peak = max(abs(left), abs(right))
        if peak > 0.8:
            g = (0.8 + (peak - 0.8) / 6) / peak
            left, right = max(-1, min(1, left * g)), max(-1, min(1, right * g))
        if f < first_pad_sound or f >= back:
            checked += 1
            d = max(abs(to_sample(left) - mixL[f]), abs(to_sample(right) - mixR[f]))
            if d > worst:
                worst, where = d, f
    check(worst <= 1, "menu theme and interface sounds (%s) match the mix within 1 LSB over %d frames "
          "(largest difference %d at frame %s)" % (", ".join(n for n, _ in EFFECTS), checked, worst, where))

    print("Recording: the take is the mix from the starting click's buffer to the stopping one's")
    (kl, kr), rate, ch = read_wav(render + "/take.wav")
    rec = [t for t, n, a in game_cmds if n == "click" and a[:2] == ["100", "447"]]
    first = game + math.ceil(rec[0] * RATE / buffer2) * buffer2
    last = game + math.ceil(rec[1] * RATE / buffer2) * buffer2
    check(rate == RATE and ch == 2 and list(kl) == list(mixL[first:last]) and list(kr) == list(mixR[first:last]),
          "take: %d frames, 2 channels at %d Hz, equal to the mix from frame %d to %d" % (len(kl), rate, first, last))

    print("Pictures: each pad's frame and label where the game screen places it")
    frames = open(render + "/frames.txt").read().split("== frame ")[1:]
    for frame in frames:
        name = frame.split()[0]
        lines = frame.splitlines()
        if not any('"Metronome"' in l for l in lines):
            continue
        rects = set()
        for i in range(len(lines) - 11):
            if lines[i] == "Begin QUADS" and lines[i + 1] == "Color 1 1 1 1" and lines[i + 6] == "Color 0 0 0 1":
                v = [tuple(map(float, lines[i + j].split()[1:3])) for j in (2, 3, 4, 5, 7)]
                (x0, y0), (_, y1), (x1, _), inner = v[0], v[1], v[2], v[4]
                if inner == (x0 + 1, y0 + 1):
                    rects.add((x0, y0, x1 - x0, y1 - y0))
        want = {(float(p[1]), float(p[2]), float(p[3]), float(p[4])) for p in PADS}
        labels = all(any('"%s"' % p[0] in l and " at %g %g " % (p[1] + p[3] * 0.5 - 3 * len(p[0]), p[2] + p[4] + 2) in l
                         for l in lines) for p in PADS[3:])
        check(want <= rects and labels, "%s: %d pad frames at the documented rectangles, labels above them %s"
              % (name, len(want & rects), sorted(want - rects)[:3]))

    print("%d check(s) failed" % failures if failures else "Every check passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
