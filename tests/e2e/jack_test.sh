#!/usr/bin/env bash
# jack_test.sh - the program plays through a JACK server, and through the next one when that
# server goes away. The audio library uses JACK whenever a server answers, and closes the
# stream by itself when the server shuts the client down.
#   1. A JACK server of the test's own (Debian's jackd1, the dummy driver, 44.1 kHz) runs
#      before the program starts: in the menu, the program's ports feed the server's playback
#      ports and the menu theme reaches them.
#   2. The server is killed: the program lives and says once that the sound was lost.
#   3. A new server of the same name: within 5 s the program says once that sound resumed,
#      and its sound reaches the new server's playback ports.
#   4. Escape, Escape quits with status 0.
source "$MARLUNE_E2E_LIB"
e2e_init
export JACK_DEFAULT_SERVER=marlune_e2e
# heard WHEN - the program's ports feed the playback ports and its sound reaches them.
heard() {
  local out
  out=$("$MARLUNE_JACKPROBE" 1) || e2e_fail "$1: cannot reach the JACK server"
  e2e_log "$1: $(tr '\n' ' ' <<<"$out")"
  grep -q '^connected: .*RtApiJack' <<<"$out" || e2e_fail "$1: the program's ports do not feed the playback ports"
  e2e_check "$(sed -n 's/^peak: //p' <<<"$out") > 0.01" "$1: no sound reached the playback ports"
}

e2e_jack_start
e2e_start
e2e_wait_screen menu
sleep 1  # the menu theme fades in over a second
heard "first server"
e2e_mark
e2e_jack_stop KILL
e2e_wait_stderr '^Audio: lost the sound device \(.*\), retrying$' 5
_e2e_alive "$E2E_PID" || e2e_fail "the program ended with the JACK server"
e2e_jack_start
e2e_wait_stderr '^Audio: sound resumed$' 5
heard "second server"
e2e_quit
[ "$(grep -c '^Audio: lost the sound device' "$E2E_OUT/stderr.txt")" = 1 ] || e2e_fail "want one line for the loss"
[ "$(grep -c '^Audio: sound resumed' "$E2E_OUT/stderr.txt")" = 1 ] || e2e_fail "want one line for the resumption"
e2e_pass
