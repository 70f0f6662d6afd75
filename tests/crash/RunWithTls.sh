#!/bin/sh
# Runs a test command while a TLS server listens on 127.0.0.1 in front of a receiver that
# the command starts. BRENNLOW_TLS_PORTS names the receiver's port and two more of the
# TLS server; port 443 shows a certificate for "localhost" from an authority made for
# this run, whose certificate BRENNLOW_TLS_CA names (DER). The second port shows one for
# "localhost" from an authority that no one trusts, the third one of the run's authority
# for another name. Everything is removed afterwards.
dir=$(mktemp -d /tmp/brennlow-tls.XXXXXX) || exit 1
tls=""
cleanup()
{
    [ -z "$tls" ] || { kill "$tls" 2>/dev/null; wait "$tls" 2>/dev/null; }
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

authority()
{
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Brennlow test $1" \
        -keyout "$dir/$1.key" -out "$dir/$1.crt" 2>/dev/null
}

# A server's certificate and key in one file: name, authority, host name.
server()
{
    openssl req -newkey rsa:2048 -nodes -subj "/CN=$3" -keyout "$dir/$1.key" \
        -out "$dir/$1.csr" 2>/dev/null &&
    printf 'subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\n' "$3" >"$dir/$1.ext" &&
    openssl x509 -req -in "$dir/$1.csr" -CA "$dir/$2.crt" -CAkey "$dir/$2.key" \
        -CAcreateserial -days 2 -extfile "$dir/$1.ext" -out "$dir/$1.crt" 2>/dev/null &&
    cat "$dir/$1.crt" "$dir/$1.key" >"$dir/$1.pem"
}

authority trusted && authority stranger &&
    server good trusted localhost && server unknown stranger localhost &&
    server misnamed trusted reports.other.example &&
    openssl x509 -in "$dir/trusted.crt" -outform DER -out "$dir/trusted.der" || {
    echo "The certificates could not be made."
    exit 1
}

# Three free ports of the loopback address: the receiver's and two for the TLS server.
ports=$(python3 -c '
import socket
held = [socket.socket() for _ in range(3)]
for s in held: s.bind(("127.0.0.1", 0))
print(" ".join(str(s.getsockname()[1]) for s in held))')
backend=${ports%% *}
stranger=$(echo "$ports" | cut -d" " -f2)
misnamed=$(echo "$ports" | cut -d" " -f3)

service()
{
    printf '[%s]\naccept = 127.0.0.1:%s\nconnect = 127.0.0.1:%s\ncert = %s/%s.pem\n' \
        "$1" "$2" "$backend" "$dir" "$1"
}
{
    printf 'foreground = yes\npid =\noutput = %s/tls.log\n' "$dir"
    service good 443
    service unknown "$stranger"
    service misnamed "$misnamed"
} >"$dir/tls.conf"
stunnel4 "$dir/tls.conf" >/dev/null 2>&1 &
tls=$!
if ! python3 - "$stranger" "$misnamed" <<'PYTHON'
import socket, sys, time
for _ in range(100):
    try:
        for port in [443] + [int(p) for p in sys.argv[1:]]:
            socket.create_connection(("127.0.0.1", port), 1).close()
        sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit(1)
PYTHON
then
    echo "The TLS server did not start:" && cat "$dir/tls.log"
    exit 1
fi

BRENNLOW_TLS_CA="$dir/trusted.der" BRENNLOW_TLS_PORTS="$ports" "$@"
