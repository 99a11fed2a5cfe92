# Sourced: a private PostgreSQL 15 on a Unix socket in a temporary folder, for the tests and the
# benchmark. start_private_pg sets pg_url; the server stops and its folder goes on exit. The
# server refuses to run as root, so as root it runs as the postgres user.
pg_bin=/usr/lib/postgresql/15/bin
pg_dir=
pg_url=
as_pg=()

stop_private_pg() {
    [ -n "$pg_dir" ] || return 0
    if [ -f "$pg_dir/data/postmaster.pid" ]; then
        "${as_pg[@]}" "$pg_bin/pg_ctl" -D "$pg_dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$pg_dir"
}

start_private_pg() {
    pg_dir=$(mktemp -d /tmp/kve17-pg.XXXXXX)
    if [ "$(id -u)" -eq 0 ]; then
        chown postgres "$pg_dir"
        as_pg=(runuser -u postgres --)
    fi
    trap stop_private_pg EXIT
    "${as_pg[@]}" "$pg_bin/initdb" -D "$pg_dir/data" -A trust -U kve17 -E UTF8 --locale=C.UTF-8 \
        >"$pg_dir/initdb.log" 2>&1 || { cat "$pg_dir/initdb.log"; return 1; }
    "${as_pg[@]}" "$pg_bin/pg_ctl" -D "$pg_dir/data" -l "$pg_dir/server.log" -w \
        -o "-c listen_addresses='' -k $pg_dir -c fsync=off -c max_connections=200" start \
        >/dev/null || { cat "$pg_dir/server.log"; return 1; }
    pg_url="postgresql://kve17@/postgres?host=$pg_dir"
}
