#!/bin/sh
# Runs a test command while a TLS server on 127.0.0.1 stands in front of a receiver that
# the command starts. BRENNLOW_TLS_PORTS names the receiver's port and two more of the
# TLS server. Port 443 shows a certificate for "localhost" from an authority made for this
# run (its certificate, DER, in BRENNLOW_TLS_CA); the second port one for "localhost" from
# an authority that no one trusts; the third one of the run's authority for another name.
dir=$(mktemp -d /tmp/brennlow-tls.XXXXXX) || exit 1
tls=""
trap '[ -z "$tls" ] || kill "$tls"; rm -rf "$dir"' EXIT
trap 'exit 130' INT TERM
make() { openssl "$@" -days 2 -out "$dir/$name.crt" 2>/dev/null; }
# Authorities, then servers: name, authority, host name.
for name in trusted stranger; do
    make req -x509 -newkey rsa:2048 -nodes -subj "/CN=Brennlow test $name" -keyout "$dir/$name.key"
done
for server in "good trusted localhost" "unknown stranger localhost" \
    "misnamed trusted reports.other.example"; do
    set -- $server "$@"
    name=$1
    openssl req -newkey rsa:2048 -nodes -subj "/CN=$3" -keyout "$dir/$1.key" -out "$dir/$1.csr" 2>/dev/null
    printf 'subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\n' "$3" >"$dir/ext"
    make x509 -req -in "$dir/$1.csr" -CA "$dir/$2.crt" -CAkey "$dir/$2.key" -CAcreateserial -extfile "$dir/ext"
    cat "$dir/$1.crt" "$dir/$1.key" >"$dir/$1.pem"
    shift 3
done
openssl x509 -in "$dir/trusted.crt" -outform DER -out "$dir/trusted.der" || exit 1

# Free ports of the loopback address: the receiver's, then two for the TLS server.
ports=$(python3 -c 'import socket; held = [socket.socket() for _ in range(3)]
print(*(s.bind(("127.0.0.1", 0)) or s.getsockname()[1] for s in held))')
listening="443 ${ports#* }"
set -- $listening "$@"
{
    printf 'foreground = yes\npid =\noutput = %s/tls.log\n' "$dir"
    for name in good unknown misnamed; do
        printf '[%s]\naccept = 127.0.0.1:%s\nconnect = 127.0.0.1:%s\ncert = %s/%s.pem\n' \
            "$name" "$1" "${ports%% *}" "$dir" "$name"
        shift
    done
} >"$dir/tls.conf"
stunnel4 "$dir/tls.conf" >/dev/null 2>&1 &
tls=$!
for tries in $(seq 100) fail; do
    python3 -c 'import socket, sys
for port in sys.argv[1:]: socket.create_connection(("127.0.0.1", int(port)), 1).close()' \
        $listening 2>/dev/null && break
    [ "$tries" != fail ] || { echo "The TLS server did not start:" && cat "$dir/tls.log"; exit 1; }
    sleep 0.1
done
BRENNLOW_TLS_CA="$dir/trusted.der" BRENNLOW_TLS_PORTS="$ports" "$@"
