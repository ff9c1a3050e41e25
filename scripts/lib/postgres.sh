# A throw-away PostgreSQL cluster for one run of the tests or the measurements: its data and
# its socket in a temporary folder, no TCP at all, stopped and deleted when the script exits.
#   start_postgres [SERVER OPTIONS...]   sets ORVELA_TEST_POSTGRES to its maintenance database
POSTGRES_DIR=""
POSTGRES_RUN=()

stop_postgres() {
  [ -n "$POSTGRES_DIR" ] || return 0
  "${POSTGRES_RUN[@]}" "$POSTGRES_BIN/pg_ctl" -D "$POSTGRES_DIR/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$POSTGRES_DIR"
  POSTGRES_DIR=""
}

start_postgres() {
  POSTGRES_BIN="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)"
  if [ -z "$POSTGRES_BIN" ]; then
    echo "PostgreSQL is not installed: the tests of the PostgreSQL engine need Debian's postgresql." >&2
    exit 1
  fi
  POSTGRES_DIR="$(mktemp -d "${TMPDIR:-/tmp}/orvela-pg.XXXXXX")"
  trap stop_postgres EXIT
  local user
  user="$(id -un)"
  # The server refuses to run as root: there it runs as the user the package made.
  if [ "$(id -u)" -eq 0 ]; then
    user=postgres
    chown postgres "$POSTGRES_DIR"
    POSTGRES_RUN=(runuser -u postgres --)
  fi
  "${POSTGRES_RUN[@]}" "$POSTGRES_BIN/initdb" -D "$POSTGRES_DIR/data" -A trust -U "$user" --no-sync >/dev/null
  local options="-k $POSTGRES_DIR -c listen_addresses='' -c max_connections=300 $*"
  if ! "${POSTGRES_RUN[@]}" "$POSTGRES_BIN/pg_ctl" -D "$POSTGRES_DIR/data" -o "$options" -l "$POSTGRES_DIR/log" -w start >/dev/null; then
    cat "$POSTGRES_DIR/log" >&2
    exit 1
  fi
  export ORVELA_TEST_POSTGRES="host=$POSTGRES_DIR user=$user dbname=postgres"
}
