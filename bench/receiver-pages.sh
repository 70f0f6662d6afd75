#!/bin/sh
# Times the receiver's groups page and the page of its largest group with a number of
# reports in the database (default 100000), first on SQLite, then on a private PostgreSQL
# cluster started by tests/receiver/WithPostgres.sh. Goal: the groups page under 0.3 s.
# Usage: receiver-pages.sh [reports]
set -e
root="$(cd "$(dirname "$0")/.." && pwd)"
reports="${1:-100000}"
env -u BRENNLOW_DB_DSN -u BRENNLOW_DB_USER -u BRENNLOW_DB_PASSWORD \
    php "$root/bench/receiver-pages.php" "$reports"
sh "$root/tests/receiver/WithPostgres.sh" php "$root/bench/receiver-pages.php" "$reports"
