#!/bin/sh
# Starts the crash-report receiver with its pages on this machine's loopback address:
#   tools/receiver.sh [--port N]       (default: port 80, the port the program sends to)
# PHP's own server with four workers and the README's size limits; the uploads and the
# SQLite database in BRENNLOW_UPLOAD_DIR (default: brennlow-uploads in the temporary
# folder), or the database that BRENNLOW_DB_DSN names. Installs what is missing first.
# Ends with Ctrl+C.
. "$(dirname "$0")/setup.sh"
port=80
while [ $# -gt 0 ]; do
    case "$1" in
    --port) [ $# -ge 2 ] || { echo "usage: $0 [--port N]" >&2; exit 2; }; port="$2"; shift 2 ;;
    *) echo "usage: $0 [--port N]" >&2; exit 2 ;;
    esac
done
brennlow_install_missing || exit 1
receiver="$BRENNLOW_ROOT/receiver"
# The schema is made before the first request, and the maintainers are counted.
maintainers=$(php -r 'require $argv[1]; ready_upload_root();
    echo db()->query("SELECT COUNT(*) FROM maintainers")->fetchColumn();' "$receiver/src/Storage.php") ||
    exit 1
echo "Crash reports: http://127.0.0.1:$port/ (uploads to http://127.0.0.1:$port/tamsel/report.php)"
if [ "$maintainers" -eq 0 ]; then
    echo "No maintainer may log in yet: set a name and password with"
else
    echo "Log in as a maintainer; add one or change a password with"
fi
echo "    php $receiver/bin/add-maintainer.php <name>"
PHP_CLI_SERVER_WORKERS=4 exec php -d upload_max_filesize=64M -d post_max_size=136M \
    -S "127.0.0.1:$port" -t "$receiver/public"
