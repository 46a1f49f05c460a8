# Sourced by scripts that run tamblin-cli against the fake Sina service.
#
#   start_fake_service DATA WORK [ARG...]   # DATA: the service's data file;
#                                           # WORK: a scratch folder for its
#                                           # port file; ARGs go to the service
# Starts the service on a free loopback port, points http_proxy and https_proxy
# at it, CURL_CA_BUNDLE at its test authority (WORK/tls/ca.pem), and sets
# `port` and `service_pid`; the caller kills service_pid when done.
start_fake_service() {
  local data=$1 work=$2 here _
  shift 2
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  python3 "$here/fake_service.py" --data "$data" --tls-dir "$work/tls" "$@" >"$work/port" &
  service_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/port" ] && break
    sleep 0.1
  done
  port=$(head -n1 "$work/port")
  [ -n "$port" ] || { echo "the fake service did not start" >&2; return 1; }
  export http_proxy=http://127.0.0.1:$port https_proxy=http://127.0.0.1:$port
  export CURL_CA_BUNDLE=$work/tls/ca.pem
  unset no_proxy NO_PROXY
}

# scratch_folder_for_fake_service
# Sets `work` to a new scratch folder and `service_pid` empty, and removes
# both (the folder, and the service once started) when the script exits.
scratch_folder_for_fake_service() {
  work=$(mktemp -d)
  service_pid=
  trap '[ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
}

# built_tamblin_cli PATH
# Prints PATH made absolute, or says how to build tamblin-cli and fails.
built_tamblin_cli() {
  [ -x "$1" ] || { echo "no tamblin-cli at $1; build first (bash tools/build.sh)" >&2; return 1; }
  echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
}

# trust_fake_service_in_browser HOME
# Chromium (the login browser) reads neither CURL_CA_BUNDLE nor the system
# bundle on Linux but the NSS database HOME/.pki/nssdb: this makes one there
# that trusts the service's test authority (certutil, from libnss3-tools).
# The caller runs the browser with that HOME.
trust_fake_service_in_browser() {
  local db=$1/.pki/nssdb
  mkdir -p "$db"
  certutil -d "sql:$db" -N --empty-password
  certutil -d "sql:$db" -A -t "C,," -n tamblin-fake-service -i "$CURL_CA_BUNDLE"
}
