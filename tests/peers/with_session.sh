#!/usr/bin/env bash
# Runs a command with an unlocked gnome-keyring on the current D-Bus session and an X server
# (Xvfb) when none is set. Used by scripts/test inside dbus-run-session.
set -uo pipefail
if command -v gnome-keyring-daemon >/dev/null 2>&1 && [ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
  chmod 700 "$XDG_RUNTIME_DIR"
  keyring_home=$(mktemp -d)
  # The keyring keeps its files under the data home: a throw-away one for the test run.
  eval "$(printf '\n' | HOME="$keyring_home" XDG_DATA_HOME="$keyring_home" gnome-keyring-daemon --unlock --components=secrets 2>/dev/null)" || true
  eval "$(HOME="$keyring_home" XDG_DATA_HOME="$keyring_home" gnome-keyring-daemon --start --components=secrets 2>/dev/null)" || true
fi
xvfb_pid=""
if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null 2>&1; then
  # Xvfb takes a free display itself and says which (-displayfd): two suites that start at the
  # same moment never end up on one display, where each would take the other's input focus.
  # -noreset: by default the server resets whenever its last client leaves, and a test that
  # connects during that reset finds no display; a suite of short test programs hits that.
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp -noreset -maxclients 512 3>"$display_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
  n=$(head -n 1 "$display_file" | tr -dc '0-9')
  rm -f "$display_file"
  [ -n "$n" ] && export DISPLAY=":$n"
fi
"$@"
rc=$?
[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
exit $rc
