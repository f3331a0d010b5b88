#!/usr/bin/env bash
# Starts a throw-away Dovecot POP3 server: start_server.sh DIR PORT
# Everything (config, users, mail, sockets, pid file, log) lives in DIR; the
# system configuration is never read. Returns once the +OK greeting arrives.
# Environment: MAIL_USER (as root: owner of the mail, default dovecot),
# UIDL_FORMAT (default %08Xu%08Xv; %g gives Maildir base names),
# START_TIMEOUT (seconds, default 20), DOVECOT_VERBOSE=1 (auth/mail debug),
# WATCH_PID (stop the server and remove DIR when that process ends),
# TLS_PORT (TLS mode: POP3 over TLS on that port and STLS on PORT, with the
# certificates of DIR/tls, made by make_certs.sh when missing; every
# DIR/tls/ip-ADDRESS.crt is served on its own loopback address),
# IMAP_PORT (IMAP beside POP3 on the same Maildir, on that port, with a
# Junk folder marked \Junk and a Trash folder marked \Trash),
# OAUTH_KEY (OAuth mode: XOAUTH2 and OAUTHBEARER beside the passwords, the
# bearer tokens being HS256 JWTs checked locally with that signing key;
# OAUTH_MECHANISMS, "xoauth2 oauthbearer" by default, are the token
# mechanisms offered).
# Exit status 89: the port is in use.
set -euo pipefail
if [ $# -lt 2 ]; then echo "usage: $0 DIR PORT" >&2; exit 2; fi
DIR=$(cd "$1" && pwd)
PORT=$2
case $PORT in ''|*[!0-9]*) echo "Error: bad port: $PORT" >&2; exit 2;; esac
if [ ${#DIR} -gt 70 ]; then
  echo "Error: $DIR is longer than 70 characters (Unix socket paths are limited)" >&2; exit 2
fi
DOVECOT=$(command -v dovecot || true)
[ -n "$DOVECOT" ] || DOVECOT=/usr/sbin/dovecot
DOVECONF=$(command -v doveconf || true)
[ -n "$DOVECONF" ] || DOVECONF=/usr/bin/doveconf
if [ ! -x "$DOVECOT" ]; then echo "Error: dovecot not installed (dovecot-pop3d)" >&2; exit 3; fi
TLS_PORT=${TLS_PORT:-}
case $TLS_PORT in *[!0-9]*) echo "Error: bad TLS port: $TLS_PORT" >&2; exit 2;; esac
IMAP_PORT=${IMAP_PORT:-}
case $IMAP_PORT in *[!0-9]*) echo "Error: bad IMAP port: $IMAP_PORT" >&2; exit 2;; esac
OAUTH_KEY=${OAUTH_KEY:-}
OAUTH_MECHANISMS=${OAUTH_MECHANISMS:-xoauth2 oauthbearer}
case $OAUTH_MECHANISMS in
  *[!a-z0-9\ ]*) echo "OAUTH_MECHANISMS: only mechanism names separated by blanks" >&2; exit 2 ;;
esac
if [ -n "$IMAP_PORT" ] && [ ! -e /usr/lib/dovecot/imap ]; then
  echo "Error: dovecot-imapd not installed" >&2; exit 3
fi

if [ "$(id -u)" -eq 0 ]; then
  # Dovecot refuses to access mail as uid 0, so the mail belongs to MAIL_USER.
  MAIL_USER=${MAIL_USER:-dovecot}
  mail_uid=$(id -u "$MAIL_USER"); mail_gid=$(id -g "$MAIL_USER")
  login_user=dovenull; internal_user=dovecot; internal_group=dovecot
  login_chroot=login; anvil_chroot=empty
else
  mail_uid=$(id -u); mail_gid=$(id -g)
  login_user=$(id -un); internal_user=$(id -un); internal_group=$(id -gn)
  login_chroot=; anvil_chroot=
fi

chmod 0711 "$DIR"
mkdir -p "$DIR/run" "$DIR/state" "$DIR/mail"
[ -f "$DIR/passwd" ] || : > "$DIR/passwd"
if [ "$(id -u)" -eq 0 ]; then
  chown root:"$internal_group" "$DIR/passwd"; chmod 0640 "$DIR/passwd"
  chown -R "$mail_uid:$mail_gid" "$DIR/mail"
  # Every parent must be searchable by the server's own users.
  if command -v setpriv >/dev/null 2>&1 &&
     ! setpriv --reuid="$internal_user" --regid="$internal_group" --clear-groups \
        test -x "$DIR" 2>/dev/null; then
    echo "Error: $internal_user cannot reach $DIR (every parent needs o+x; use /tmp)" >&2; exit 4
  fi
else
  chmod 0600 "$DIR/passwd"
fi

# TLS: the master reads the certificate files as root while it starts, the
# login processes run as another user, so the files must be readable by all
# (throw-away test keys only). Other addresses get their own certificates.
ssl_conf="ssl = no"
addresses=127.0.0.1
local_blocks=
pop3s_listener="port = 0"
if [ -n "$TLS_PORT" ]; then
  [ -f "$DIR/tls/server.crt" ] || "$(cd "$(dirname "$0")" && pwd)/make_certs.sh" "$DIR/tls"
  chmod 0755 "$DIR/tls"; chmod 0644 "$DIR/tls/"*.crt "$DIR/tls/server.key"
  ssl_conf="ssl = yes
ssl_cert = <$DIR/tls/server.crt
ssl_key = <$DIR/tls/server.key
ssl_min_protocol = TLSv1.2"
  for crt in "$DIR/tls"/ip-*.crt; do
    [ -e "$crt" ] || continue
    ip=${crt##*/ip-}; ip=${ip%.crt}
    addresses="$addresses, $ip"
    local_blocks="$local_blocks
local $ip {
  ssl_cert = <$crt
  ssl_key = <$DIR/tls/server.key
}"
  done
  pop3s_listener="address = $addresses
    port = $TLS_PORT
    ssl = yes"
fi

# IMAP only when asked for: a POP3 server's configuration stays as it was.
protocols=pop3
imap_blocks=
if [ -n "$IMAP_PORT" ]; then
  protocols="pop3 imap"
  imap_blocks="
service imap-login {
  chroot = $login_chroot
  inet_listener imap {
    address = $addresses
    port = $IMAP_PORT
  }
  inet_listener imaps {
    port = 0
  }
}
protocol imap {
  login_greeting = IMAP test server ready.
}
namespace inbox {
  inbox = yes
  separator = /
  mailbox Junk {
    special_use = \\Junk
    auto = create
  }
  mailbox Trash {
    special_use = \\Trash
    auto = create
  }
}"
fi

# OAuth only when asked for: the password servers stay as they were. The
# oauth2 passdb comes first and serves only the two token mechanisms.
mechanisms="plain apop"
oauth_passdb=
if [ -n "$OAUTH_KEY" ]; then
  mechanisms="plain apop $OAUTH_MECHANISMS"
  oauth_conf="$DIR/oauth2.conf.ext"
  # The key is looked up as shared/<azp>/<alg>/<kid>, "default" standing
  # for a claim the token lacks; an HMAC key is kept in base64.
  mkdir -p "$DIR/oauth-keys/default/HS256"
  printf '%s' "$OAUTH_KEY" | base64 -w0 > "$DIR/oauth-keys/default/HS256/default"
  cat > "$oauth_conf" <<OAUTH
introspection_mode = local
local_validation_key_dict = fs:posix:prefix=$DIR/oauth-keys/
username_attribute = email
OAUTH
  [ "${DOVECOT_VERBOSE:-0}" = 1 ] && echo "debug = yes" >> "$oauth_conf"
  if [ "$(id -u)" -eq 0 ]; then
    chmod -R a+rX "$DIR/oauth-keys" 2>/dev/null || true
    chmod 0644 "$oauth_conf"
  fi
  oauth_passdb="passdb {
  driver = oauth2
  mechanisms = $OAUTH_MECHANISMS
  args = $oauth_conf
}"
fi

verbose=no
[ "${DOVECOT_VERBOSE:-0}" = 1 ] && verbose=yes
# The reason a token was refused ("Token has expired") is logged only so.
auth_verbose=$verbose
[ -n "$OAUTH_KEY" ] && auth_verbose=yes
uidl_format=${UIDL_FORMAT:-%08Xu%08Xv}
CONF="$DIR/dovecot.conf"
cat > "$CONF" <<CONF
instance_name = testpop3-$PORT
base_dir = $DIR/run
state_dir = $DIR/state
protocols = $protocols
listen = $addresses

log_path = $DIR/dovecot.log
auth_verbose = $auth_verbose
auth_debug = $verbose
mail_debug = $verbose

$ssl_conf
disable_plaintext_auth = no
auth_mechanisms = $mechanisms
auth_failure_delay = 0

default_login_user = $login_user
default_internal_user = $internal_user
default_internal_group = $internal_group
first_valid_uid = 0
first_valid_gid = 0

login_greeting = POP3 test server ready.

$oauth_passdb
# Answers failed logins at once and keeps them from adding an auth penalty.
passdb {
  driver = static
  args = nopassword=y noauthenticate=y nodelay=y
}
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $DIR/passwd
}
userdb {
  driver = static
  args = uid=$mail_uid gid=$mail_gid home=$DIR/mail/%u
}

mail_location = maildir:~/Maildir
pop3_uidl_format = $uidl_format

service pop3-login {
  chroot = $login_chroot
  inet_listener pop3 {
    address = $addresses
    port = $PORT
  }
  inet_listener pop3s {
    $pop3s_listener
  }
}
service anvil {
  chroot = $anvil_chroot
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
$local_blocks
$imap_blocks
CONF

if ! err=$("$DOVECONF" -c "$CONF" -n 2>&1 >/dev/null); then
  echo "Error: bad config: $err" >&2; exit 1
fi
start_ns=$(date +%s%N)
# The daemon's children inherit its output: a file, never a pipe we wait on.
if ! "$DOVECOT" -c "$CONF" >"$DIR/start.out" 2>&1; then
  out=$(cat "$DIR/start.out")
  if printf '%s\n' "$out" | grep -q 'Address already in use' ||
     grep -q 'Address already in use' "$DIR/dovecot.log" 2>/dev/null; then
    grep -h 'Address already in use' "$DIR/dovecot.log" 2>/dev/null | tail -n 1 || true
    printf '%s\n' "$out" | grep 'Address already in use' || true
    exit 89
  fi
  echo "Error: dovecot did not start: $out" >&2
  tail -n 20 "$DIR/dovecot.log" 2>/dev/null >&2 || true
  exit 1
fi

# Ready means a greeting was read: the port accepts before login and auth are up.
deadline=$(( $(date +%s) + ${START_TIMEOUT:-20} ))
while :; do
  line=
  if exec 3<>"/dev/tcp/127.0.0.1/$PORT" 2>/dev/null; then
    IFS= read -r -t 2 line <&3 || true
    printf 'QUIT\r\n' >&3 2>/dev/null || true
    exec 3<&- 3>&-
  fi
  if [[ $line == +OK* ]] && [ -n "$IMAP_PORT" ]; then
    line2=
    if exec 3<>"/dev/tcp/127.0.0.1/$IMAP_PORT" 2>/dev/null; then
      IFS= read -r -t 2 line2 <&3 || true
      printf 'a LOGOUT\r\n' >&3 2>/dev/null || true
      exec 3<&- 3>&-
    fi
    [[ $line2 == "* OK"* ]] || line=
  fi
  if [[ $line == +OK* ]]; then
    ms=$(( ($(date +%s%N) - start_ns) / 1000000 ))
    if [ -n "${WATCH_PID:-}" ]; then
      # Stops the server and removes DIR once that process has gone, so a
      # test program that crashes leaves nothing running.
      here=$(cd "$(dirname "$0")" && pwd)
      ( while kill -0 "$WATCH_PID" 2>/dev/null; do sleep 1; done
        NO_WAIT=1 CLEANUP=1 "$here/stop_server.sh" "$DIR" ) </dev/null >/dev/null 2>&1 &
    fi
    # Last: a caller that has gone makes this echo fail (SIGPIPE).
    echo "ready after $ms ms (pid $(cat "$DIR/run/master.pid" 2>/dev/null)): ${line%$'\r'}"
    exit 0
  fi
  if grep -q 'Address already in use' "$DIR/dovecot.log" 2>/dev/null; then
    grep -h 'Address already in use' "$DIR/dovecot.log" | tail -n 1
    exit 89
  fi
  if [ "$(date +%s)" -ge "$deadline" ]; then
    echo "Error: no greeting on 127.0.0.1:$PORT after ${START_TIMEOUT:-20} s" >&2
    tail -n 20 "$DIR/dovecot.log" >&2 2>/dev/null || true
    exit 1
  fi
  sleep 0.02
done
