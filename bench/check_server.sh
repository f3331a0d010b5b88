# Sourced by run_check.sh and run_window.sh: a local Dovecot holding MESSAGES
# (default 10,000) generated messages for one user, and a home folder with
# kalmuro.ini for it and four rule lists of 1,000 entries each. Sets $dir
# (server), $home, $port, $n; the EXIT trap stops the server and removes both.
# The first session on a new Maildir builds the server's index: the caller
# keeps that one out of its figures (warm_up).
n=${MESSAGES:-10000}
dir=$(mktemp -d /tmp/kqc.XXXXXX)
home=$(mktemp -d /tmp/kqch.XXXXXX)
port=$(free_port)
server_started=0
stop_check_server() {
  if [ "$server_started" = 1 ]; then
    NO_WAIT=1 CLEANUP=1 "$src/scripts/dovecot/stop_server.sh" "$dir"
  else
    rm -rf "$dir"
  fi
  rm -rf "$home"
}
trap stop_check_server EXIT

"$src/scripts/dovecot/add_user.sh" "$dir" bench secret >/dev/null
python3 "$src/scripts/dovecot/gen_maildir.py" "$dir/mail/bench/Maildir" "$n" --seed 1 >/dev/null
python3 "$src/bench/make_check_home.py" "$home" "$port" bench secret --count 1000
"$src/scripts/dovecot/start_server.sh" "$dir" "$port" >/dev/null
server_started=1

. "$(dirname "${BASH_SOURCE[0]}")/timing.sh"
