#!/bin/sh
# Runs a test command while the reference upload receiver answers on 127.0.0.1 port 80.
# Arguments: the receiver's folder, then the command. The uploads land in a fresh folder,
# named to the command by BRENNLOW_UPLOAD_DIR and removed afterwards, with the server.
receiver="$1"
shift
uploads=$(mktemp -d /tmp/brennlow-uploads.XXXXXX) || exit 1
export BRENNLOW_UPLOAD_DIR="$uploads"
# The database beside the folder: the tests count the folder's entries as uploads.
export BRENNLOW_DB_DSN="sqlite:$uploads.sqlite"
php -d upload_max_filesize=64M -d post_max_size=136M -S 127.0.0.1:80 -t "$receiver" \
    >"$uploads.log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -rf "$uploads" "$uploads.log" "$uploads.sqlite"*' EXIT
trap 'exit 130' INT TERM
tries=0
until php -r 'exit(@fsockopen("127.0.0.1", 80) ? 0 : 1);'; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ] || ! kill -0 "$server" 2>/dev/null; then
        echo "The receiver did not start:" && cat "$uploads.log"
        exit 1
    fi
    sleep 0.1
done
"$@"
