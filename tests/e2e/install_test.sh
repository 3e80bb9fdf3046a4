#!/usr/bin/env bash
# install_test.sh - Marlune installed as a desktop user gets it:
#   1. cmake --install into a staging prefix: the bundle under lib/marlune, bin/marlune a
#      relative link to its program, the desktop entry and AppStream metadata (both pass their
#      validators with no error or warning), hicolor icons from 32x32 up.
#   2. cpack -G DEB: marlune_<version>-1_amd64.deb, section sound, holding exactly what the
#      install put under the prefix (as /usr), with dependencies on the shared libraries the
#      program links.
#   3. The prefix made read-only (a private mount namespace), the program started by name from
#      PATH with a fresh HOME, as a desktop entry starts it: it finds its content, and a take
#      lands, complete, in the home's music folder (~/Music/Marlune), none in the prefix.
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

e2e_log "--- the installed program, started by name from PATH in a read-only prefix"
mkdir -p "$home"
e2e_start unshare -m -- bash -c 'mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && shift && exec "$@"' - \
  "$prefix" env -u XDG_CONFIG_HOME HOME="$home" PATH="$prefix/bin:$PATH" marlune
awk -v p="$prefix" '$5 == p && $6 ~ /^ro(,|$)/ { found = 1 } END { exit !found }' "/proc/$E2E_PID/mountinfo" ||
  e2e_fail "the prefix is not read-only for the program (test set-up)"
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
e2e_pass
