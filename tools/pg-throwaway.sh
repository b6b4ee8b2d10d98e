# Sourced by the test and benchmark scripts: a throwaway PostgreSQL cluster on 127.0.0.1.
# pg_throwaway_start sets VORNA_TEST_PG to a libpq connection string for it; the user may
# create databases, and PG_DIR to its folder. pg_throwaway_stop stops it and removes its files.

# A port on 127.0.0.1 that nothing listens on.
free_tcp_port() {
  local port
  for _ in $(seq 1 200); do
    port=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return 0; }
  done
  echo "pg-throwaway: found no free port" >&2
  return 1
}

pg_throwaway_start() {
  local bindir
  bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
  if [ -z "$bindir" ]; then
    echo "pg-throwaway: PostgreSQL is not installed; run tools/bootstrap.sh" >&2
    return 1
  fi
  PG_DIR=$(mktemp -d /tmp/vorna-pg.XXXXXX)
  PG_PORT=$(free_tcp_port)
  # initdb refuses to run as root: run the cluster as the postgres system user then.
  PG_AS=()
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres "$PG_DIR"
    PG_AS=(runuser -u postgres --)
  fi
  "${PG_AS[@]}" "$bindir/initdb" -D "$PG_DIR/data" -A trust -U postgres -E UTF8 >"$PG_DIR/initdb.log" 2>&1 \
    || { cat "$PG_DIR/initdb.log" >&2; return 1; }
  "${PG_AS[@]}" "$bindir/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w \
    -o "-p $PG_PORT -k $PG_DIR -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null \
    || { cat "$PG_DIR/server.log" >&2; return 1; }
  PG_BINDIR=$bindir
  VORNA_TEST_PG="host=127.0.0.1 port=$PG_PORT user=postgres dbname=postgres"
  echo "pg-throwaway: PostgreSQL on 127.0.0.1:$PG_PORT"
}

# Works from another shell too, given PG_DIR: the server is found by its data folder. The
# folder stays when the server would not stop, so that it is not left running without its files.
pg_throwaway_stop() {
  [ -n "${PG_DIR:-}" ] || return 0
  local bindir=${PG_BINDIR:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}
  local as=()
  if [ "$(id -u)" -eq 0 ]; then as=(runuser -u postgres --); fi
  if [ -f "$PG_DIR/data/postmaster.pid" ] \
    && ! "${as[@]}" "$bindir/pg_ctl" -D "$PG_DIR/data" -m fast -w stop >/dev/null 2>&1; then
    echo "pg-throwaway: the server in $PG_DIR did not stop; its files stay there" >&2
    return 1
  fi
  rm -rf "$PG_DIR"
  PG_DIR=
}
