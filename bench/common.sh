# Sourced first by every bench/run_*.sh: where the sources and the built
# programs are, and `need`, which stops with a clear message when a program
# or tool a benchmark runs is missing.
here=$(cd "$(dirname "${BASH_SOURCE[1]}")" && pwd)
src=${KALMURO_SOURCE_DIR:-$(cd "$here/.." && pwd)}
build=${KALMURO_BUILD_DIR:-$src/build-release}
need() {
  local exe
  for exe in "$@"; do
    [ -x "$exe" ] && continue
    case $exe in
      /usr/bin/*) echo "missing $exe (package $(basename "$exe"))" >&2 ;;
      *) echo "missing $exe: build the release programs first (scripts/build.sh release)" >&2 ;;
    esac
    exit 1
  done
}
# A TCP port on 127.0.0.1 that nothing listens on now, for a server to take.
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
