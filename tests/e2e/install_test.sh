#!/usr/bin/env bash
# install_test.sh - Marlune installed as a desktop user gets it:
#   1. cmake --install into a staging prefix: the bundle under lib/marlune (without the build
#      tree's mark), bin/marlune a relative link to its program, the desktop entry and AppStream
#      metadata (both pass their validators with no error or warning; the licence named), hicolor
#      icons from 32x32 up, the machine-readable copyright file (the program and its content
#      under Expat, the bundled font under its own licence) and the Debian changelog (gzip -9n).
#   2. cpack -G DEB: marlune_<version>-1_amd64.deb, section sound, holding exactly what the
#      install put under the prefix (as /usr), with dependencies on the shared libraries the
#      program links; lintian reports no error.
#   3. The prefix left writable, the program started as root (as the tests run) by name from
#      PATH with a fresh HOME, as a desktop entry starts it: it finds its content, and a take
#      lands, complete, in the home's music folder (~/Music/Marlune), none in the prefix.
#   4. Started through a link beside an empty Resources folder: the bundle is found by its
#      content, and the menu shows.
source "$MARLUNE_E2E_LIB"
e2e_init
build=${MARLUNE_BUILD_DIR:?}
prefix="$RIG_DIR/prefix" home="$RIG_DIR/home"
id=${MARLUNE_APP_ID:?}

e2e_log "--- cmake --install into $prefix"
cmake --install "$build" --prefix "$prefix" >"$E2E_OUT/install.txt" 2>&1 || e2e_fail "cmake --install failed: $(tail -n 5 "$E2E_OUT/install.txt")"
lib=$(cd "$prefix" && find . -path '*/marlune/Marlune.app/Contents/MacOS/marlune' -type f | sed 's|^\./||')
case $lib in lib/marlune/*|lib/*/marlune/*) ;; *) e2e_fail "no bundle under the library folder: '$lib'" ;; esac
[ -x "$prefix/$lib" ] || e2e_fail "the bundle's program is not executable"
[ -f "$prefix/${lib%/MacOS/marlune}/Resources/MarluneContent/img/loading.png" ] || e2e_fail "the bundle holds no content"
link=$(readlink "$prefix/bin/marlune") || e2e_fail "bin/marlune is not a link"
[ "${link#/}" = "$link" ] && [ "$(readlink -f "$prefix/bin/marlune")" = "$(readlink -f "$prefix/$lib")" ] ||
  e2e_fail "bin/marlune ($link) is not a relative link to $lib"
desktop="$prefix/share/applications/$id.desktop" metainfo="$prefix/share/metainfo/$id.metainfo.xml"
out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ] || e2e_fail "desktop-file-validate: $out"
out=$(appstreamcli validate --no-net "$metainfo" 2>&1) || e2e_fail "appstreamcli validate: $out"
grep -Eq '^Categories=.*Music;' "$desktop" && grep -q "^Icon=$id$" "$desktop" && grep -q '^Exec=marlune$' "$desktop" ||
  e2e_fail "the desktop entry does not start marlune with its icon among music software"
grep -q '<release version="1.03"' "$metainfo" && grep -q '<content_rating' "$metainfo" || e2e_fail "the metadata lacks the 1.03 release or a content rating"
grep -q '<project_license>MIT</project_license>' "$metainfo" && grep -q '<metadata_license>MIT</metadata_license>' "$metainfo" ||
  e2e_fail "the metadata does not name the project's and its own licence"
[ ! -e "$prefix/${lib%/MacOS/marlune}/BuildTree" ] || e2e_fail "the install copied the build tree's mark into the bundle"
doc="$prefix/share/doc/marlune"
copyright="$doc/copyright"
[ "$(head -n 1 "$copyright" 2>/dev/null)" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] ||
  e2e_fail "no machine-readable copyright file in share/doc/marlune"
# Each Files stanza and the licence it names; every licence named has its text.
stanzas=$(awk '/^Files:/ { f = $2 } /^License:/ && f { print f, $2; f = "" }' "$copyright" | tr '\n' ';')
[ "$stanzas" = "* Expat;*/MarluneContent/font/* bitstream-vera;" ] || e2e_fail "copyright stanzas: '$stanzas'"
for licence in Expat bitstream-vera; do
  [ "$(awk -v l="$licence" '/^License:/ { on = ($2 == l && NF == 2 && !prev) } /^Files:/ { prev = 1 } /^$/ { prev = 0; on = 0 } on && /^ / { n++ } END { print n + 0 }' "$copyright")" -ge 10 ] ||
    e2e_fail "the copyright file lacks the text of the $licence licence"
done
font=$(cd "$prefix/${lib%/MacOS/marlune}/Resources" && ls MarluneContent/font/*.ttf)
# The text of the bitstream-vera licence wherever a paragraph gives it (indented lines after
# its License line), as the font's own Debian copyright file gives it.
vera() { awk '/^License: bitstream-vera$/ { on = 1; next } /^$/ { on = 0 } on' "$1"; }
[ -n "$(vera "$copyright")" ] && cmp -s <(vera "$copyright") <(vera "$prefix/${lib%/MacOS/marlune}/Resources/MarluneContent/font/LICENSE-DejaVu.txt") ||
  e2e_fail "the font's licence in the copyright file differs from the one the bundle carries beside $font"
changelog="$doc/changelog.Debian.gz"
# gzip -9n: no file name (flags 0) and no time stamp (0), maximum compression (extra flags 2).
[ "$(od -An -tu1 -j3 -N6 "$changelog" 2>/dev/null | tr -s ' ')" = " 0 0 0 0 0 2" ] || e2e_fail "changelog.Debian.gz is not compressed with gzip -9n"
head=$(zcat "$changelog" | head -n 1)
[[ "$head" == "marlune (1.03-1) "*"; urgency="* ]] || e2e_fail "the changelog's latest entry is '$head', want marlune (1.03-1)"
zcat "$changelog" | grep -Eq '^ -- .+ <.+>  [A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} [0-9:]{8} [+-][0-9]{4}$' ||
  e2e_fail "the changelog's entry has no trailer line"
zcat "$prefix/share/man/man1/marlune.1.gz" 2>/dev/null | grep -q '^\.TH MARLUNE 1 ' || e2e_fail "no manual page share/man/man1/marlune.1.gz"
for size in 32 256; do
  [ "$(identify -format '%wx%h %[channels]' "$prefix/share/icons/hicolor/${size}x$size/apps/$id.png" 2>/dev/null)" = "${size}x$size srgba" ] ||
    e2e_fail "no ${size}x$size icon with transparency"
done

e2e_log "--- cpack -G DEB"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$E2E_OUT/package" >"$E2E_OUT/cpack.txt" 2>&1 || e2e_fail "cpack failed: $(tail -n 5 "$E2E_OUT/cpack.txt")"
deb=$(find "$E2E_OUT/package" -maxdepth 1 -name 'marlune_*.deb')
[[ "${deb##*/}" == marlune_1.03-1_amd64.deb ]] || e2e_fail "the package is '${deb##*/}', want marlune_1.03-1_amd64.deb"
field() { dpkg-deb -f "$deb" "$1"; }
e2e_log "${deb##*/}: $(stat -c %s "$deb") bytes, Depends: $(field Depends)"
[ "$(field Section)" = sound ] && [ -n "$(field Description)" ] || e2e_fail "the package's section is not sound or it has no description"
for dep in libc6 libstdc++6 libsdl2-2.0-0 libsdl2-image-2.0-0 libsdl2-ttf-2.0-0 librtaudio6 libpulse0 libdbus-1-3 libstk libgl1; do
  [[ ", $(field Depends)," == *", $dep"* ]] || e2e_fail "the package does not depend on $dep: $(field Depends)"
done
dpkg-deb -c "$deb" | awk '{ print substr($1, 1, 1), $6 }' | sed 's|^\(.\) \./|\1 /|; s|/$||' | grep -v ' /usr$\| /$' | sort >"$E2E_OUT/package.txt"
(cd "$prefix" && find . -mindepth 1 -printf '%y /usr/%P\n' | sed 's/^f /- /; s/^l /l /' | sort) >"$E2E_OUT/installed.txt"
diff "$E2E_OUT/installed.txt" "$E2E_OUT/package.txt" >"$E2E_OUT/package-diff.txt" ||
  e2e_fail "the package does not hold what the install put under the prefix: $(head -n 5 "$E2E_OUT/package-diff.txt")"
rm -rf -- "$E2E_OUT/package/_CPack_Packages"  # cpack's staging copy
command -v lintian >/dev/null || e2e_fail "lintian is not installed (scripts/install-deps.sh)"
lintian --tag-display-limit 0 "$deb" >"$E2E_OUT/lintian.txt" 2>&1
grep -q '^E: ' "$E2E_OUT/lintian.txt" && e2e_fail "lintian reports errors: $(grep '^E: ' "$E2E_OUT/lintian.txt" | head -n 5)"
e2e_log "lintian: $(grep -c '^E: ' "$E2E_OUT/lintian.txt") errors, $(grep -c '^W: ' "$E2E_OUT/lintian.txt") warnings ($(grep '^W: ' "$E2E_OUT/lintian.txt" | awk '{ print $3 }' | sort -u | tr '\n' ' '))"

e2e_log "--- the installed program, started as root by name from PATH, its prefix writable"
mkdir -p "$home"
[ -w "$prefix/${lib%/MacOS/marlune}" ] || e2e_fail "the prefix is not writable (test set-up)"
e2e_start env -u XDG_CONFIG_HOME HOME="$home" PATH="$prefix/bin:$PATH" marlune
[ "$(readlink "/proc/$E2E_PID/cwd")" = "$(readlink -f "$prefix/${lib%/MacOS/marlune}/Resources")" ] ||
  e2e_fail "the program did not change to its bundle's Resources folder"
e2e_wait_screen menu
e2e_key Return
e2e_wait_screen game
music="$home/Music/Marlune"
e2e_record "$music"
e2e_press $(e2e_pad Kick 75 30) 1 0.6
e2e_recorded 2.5
e2e_press $(e2e_pad Record)
e2e_quit 3
e2e_assert_recording "$E2E_WAV" 2.5
[ -z "$(find "$prefix" -name '[0-9][0-9][0-9][0-9]-*.wav')" ] || e2e_fail "a recording landed in the prefix"

e2e_log "--- started through a link beside an empty Resources folder"
launcher="$RIG_DIR/launcher"
mkdir -p "$launcher/bin" "$launcher/Resources"
ln -sfn "$prefix/bin/marlune" "$launcher/bin/marlune"
e2e_start env HOME="$home" "$launcher/bin/marlune"
e2e_wait_screen menu
[ "$(readlink "/proc/$E2E_PID/cwd")" = "$(readlink -f "$prefix/${lib%/MacOS/marlune}/Resources")" ] ||
  e2e_fail "started through $launcher/bin/marlune, the program did not find its bundle's Resources folder"
e2e_quit
e2e_pass
