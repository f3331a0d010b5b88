#!/usr/bin/env bash
# Adds or replaces a user: add_user.sh DIR USER PASS
# Writes USER:{PLAIN}PASS to DIR/passwd (replaced atomically; {PLAIN} lets
# APOP work) and creates DIR/mail/USER/Maildir. On a running server it returns
# only once the server is sure to see the change.
set -euo pipefail
if [ $# -ne 3 ]; then echo "usage: $0 DIR USER PASS" >&2; exit 2; fi
DIR=$(cd "$1" && pwd); USER_NAME=$2; PASS=$3
case $USER_NAME in *:*|*/*|''|.*) echo "Error: bad user name: $USER_NAME" >&2; exit 2;; esac
case $PASS in *:*|*$'\n'*) echo "Error: a password may not hold ':' or a line break" >&2; exit 2;; esac
passwd="$DIR/passwd"
[ -f "$passwd" ] || : > "$passwd"
tmp=$(mktemp "$DIR/.passwd.XXXXXX")
awk -F: -v u="$USER_NAME" '$1 != u' "$passwd" > "$tmp"
printf '%s:{PLAIN}%s\n' "$USER_NAME" "$PASS" >> "$tmp"
if [ "$(id -u)" -eq 0 ] && getent group dovecot >/dev/null; then
  chown root:dovecot "$tmp"; chmod 0640 "$tmp"
else
  chmod 0600 "$tmp"
fi
# The server reloads the file only when its mtime (whole seconds) or size
# changed, and looks at most once a second: move the mtime forward always.
old=$(stat -c %Y "$passwd")
now=$(date +%s)
new=$(( now > old ? now : old + 1 ))
touch -d "@$new" "$tmp"
mv -f "$tmp" "$passwd"

mkdir -p "$DIR/mail/$USER_NAME/Maildir/cur" "$DIR/mail/$USER_NAME/Maildir/new" \
         "$DIR/mail/$USER_NAME/Maildir/tmp"
if [ "$(id -u)" -eq 0 ]; then
  owner=$(stat -c %u:%g "$DIR/mail")
  if [ "$owner" = 0:0 ] && id -u "${MAIL_USER:-dovecot}" >/dev/null 2>&1; then
    owner="$(id -u "${MAIL_USER:-dovecot}"):$(id -g "${MAIL_USER:-dovecot}")"
    chown "$owner" "$DIR/mail"
  fi
  chown -R "$owner" "$DIR/mail/$USER_NAME"
fi

pid=$(cat "$DIR/run/master.pid" 2>/dev/null || true)
if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
  # Wait for the next wall-clock second, when the server looks again.
  while [ "$(date +%s)" -le "$now" ]; do sleep 0.05; done
fi
