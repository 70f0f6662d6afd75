#!/bin/sh
# Runs a command against a private PostgreSQL cluster on 127.0.0.1, named to it by
# BRENNLOW_DB_DSN, BRENNLOW_DB_USER and BRENNLOW_DB_PASSWORD, and removed afterwards. Under
# root the cluster belongs to postgres: the server refuses to run as root.
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bin/initdb" ] || { echo "PostgreSQL is not installed (tools/setup.sh installs it)"; exit 1; }
folder=$(mktemp -d /tmp/brennlow-postgres.XXXXXX) || exit 1
as_owner()
{
    if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
[ "$(id -u)" -ne 0 ] || chown postgres "$folder"
cleanup()
{
    as_owner "$bin/pg_ctl" -D "$folder/data" -m immediate stop >/dev/null 2>&1
    rm -rf "$folder"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
port=$(php -r '$s = stream_socket_server("tcp://127.0.0.1:0");
                echo substr(strrchr(stream_socket_get_name($s, false), ":"), 1);')
password=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
printf '%s\n' "$password" >"$folder/password"
chmod 644 "$folder/password"
as_owner "$bin/initdb" -D "$folder/data" -U brennlow --pwfile="$folder/password" \
    --auth=scram-sha-256 -E UTF8 --locale=C >"$folder/initdb.log" 2>&1 ||
    { cat "$folder/initdb.log"; exit 1; }
as_owner "$bin/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w -t 60 \
    -o "-c listen_addresses=127.0.0.1 -p $port -k $folder -c fsync=off -c max_connections=60" \
    start >/dev/null || { cat "$folder/server.log"; exit 1; }
export BRENNLOW_DB_DSN="pgsql:host=127.0.0.1;port=$port;dbname=postgres"
export BRENNLOW_DB_USER=brennlow BRENNLOW_DB_PASSWORD="$password"
"$@"
