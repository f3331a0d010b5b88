#!/usr/bin/env bash
# Runs a command against a Secret Service of its own: a private D-Bus session
# (dbus-run-session) with gnome-keyring-daemon on a throw-away login keyring,
# unlocked here, in a throw-away HOME. The daemon and the bus end with the
# command, and nothing of the machine's own keyring or session is touched.
#   tests/secrets/private_keyring.sh COMMAND [ARGS...]
set -euo pipefail
if [ "${1:-}" != --inside ]; then
  exec dbus-run-session -- "$0" --inside "$@" 2> >(grep -v 'Failed to set fd limit' >&2)
fi
shift
home=$(mktemp -d /tmp/kalmuro-keyring.XXXXXX)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_RUNTIME_DIR=$home/run XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config
mkdir -m 0700 "$XDG_RUNTIME_DIR"
# No window may pop up to ask for the keyring's password: without a display
# an unlock prompt fails at once instead of waiting for a click.
unset DISPLAY WAYLAND_DISPLAY
eval "$(printf 'kalmuro-test\n' | gnome-keyring-daemon --unlock --components=secrets |
        sed -n 's/^\([A-Z_]*=\)/export \1/p')"
status=0
"$@" || status=$?
exit "$status"
