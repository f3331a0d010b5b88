# Sourced by demo.sh and screenshots.sh: a throw-away Dovecot with the demo
# mailbox in two accounts, and a home folder (settings and rule lists) for it.
#   demo_start KALMURO   starts the server, writes the home; sets DEMO_HOME,
#                        DEMO_PORT, DEMO_SERVER
#   demo_stop            stops the server, removes the server folder and home
# The server also stops by itself when the calling shell ends (WATCH_PID), so
# even a killed demo leaves nothing running; every run starts from fresh folders.

demo_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
DEMO_SERVER=
DEMO_HOME=
DEMO_PORT=

# One CR LF line per argument, in Windows-1252 (the demo texts are ASCII).
demo_write_lines() {
  local file=$1; shift
  : >"$file"
  local line
  for line in "$@"; do printf '%s\r\n' "$line" >>"$file"; done
}

demo_free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

demo_start() {
  local kalmuro=$1 dovecot="$demo_here/../dovecot" status
  DEMO_SERVER=$(mktemp -d /tmp/kdemo.XXXXXX)
  DEMO_HOME=$(mktemp -d /tmp/kdemo-home.XXXXXX)
  "$dovecot/add_user.sh" "$DEMO_SERVER" mario.rossi casa-2024 >/dev/null
  "$dovecot/add_user.sh" "$DEMO_SERVER" m.rossi 'Uff1cio!' >/dev/null
  python3 "$demo_here/make_demo_mail.py" "$DEMO_SERVER/mail/mario.rossi/Maildir" casa >/dev/null
  python3 "$demo_here/make_demo_mail.py" "$DEMO_SERVER/mail/m.rossi/Maildir" ufficio >/dev/null
  # Another program may take the free port between the look and the start.
  for _ in 1 2 3 4 5; do
    DEMO_PORT=$(demo_free_port)
    status=0
    WATCH_PID=$$ "$dovecot/start_server.sh" "$DEMO_SERVER" "$DEMO_PORT" >/dev/null || status=$?
    [ "$status" -eq 89 ] || break
  done
  [ "$status" -eq 0 ] || { echo "the demo server did not start" >&2; return 1; }

  local pwd1 pwd2
  pwd1=$(printf 'casa-2024\n' | "$kalmuro" --scramble-password)
  pwd2=$(printf 'Uff1cio!\n' | "$kalmuro" --scramble-password)
  # Checks at start, blocks messages without sender and subject, decodes
  # UTF-8 subjects, keeps a copy of every deleted message in Cestino.
  demo_write_lines "$DEMO_HOME/kalmuro.ini" \
    "[Setup]" "CheckStart=1" "StopEmptyMsg=1" "DecodeUTF8=1" "CopyToRecycle=1" \
    "NotifyBalloon=1" \
    "[Accounts]" \
    "PopServer1=127.0.0.1" "UserId1=mario.rossi" "UserPwd1=$pwd1" "Porta1=$DEMO_PORT" \
    "APOP1=0" "Attivo1=1" "Account1=Posta di casa" \
    "PopServer2=127.0.0.1" "UserId2=m.rossi" "UserPwd2=$pwd2" "Porta2=$DEMO_PORT" \
    "APOP2=1" "Attivo2=1" "Account2=Ufficio"
  demo_write_lines "$DEMO_HOME/Mittenti.txt" \
    "vincite-facili.example" "winner-prize" "promo-viaggi"
  demo_write_lines "$DEMO_HOME/MittentiOk.txt" "giulia.bianchi@" "@studio-rossi.example.it"
  demo_write_lines "$DEMO_HOME/Oggetti.txt" "bitcoin" "prezzi scontatissimi" "SALDI"
  demo_write_lines "$DEMO_HOME/OggettiOk.txt" "Fattura n."
}

demo_stop() {
  if [ -n "$DEMO_SERVER" ]; then
    NO_WAIT=1 CLEANUP=1 "$demo_here/../dovecot/stop_server.sh" "$DEMO_SERVER"
    DEMO_SERVER=
  fi
  if [ -n "$DEMO_HOME" ]; then rm -rf "$DEMO_HOME"; DEMO_HOME=; fi
}
