"""Crashes the fault program (null write) and a copy stripped of its debug information.
The stripped report must name our frames by module and offset at the same code; the symbol
store turns them back into the unstripped report's functions and lines, in the symbolizer
and in the reference receiver. Arguments: wine-run, CrashProgram.exe, the source folder,
the architecture's strip and nm."""
import os
import re
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

OWN = re.compile(r"(\w+)\(.*\) - Line (\d+) in .*[\\/]CrashProgram\.cpp")
# Wine's debug-help library names modules in lower case.
PLACE = re.compile(r"crashprogram:crashprogram@0x([0-9A-F]+)\(.*")


def crash(wine_run, folder):
    return subprocess.Popen([wine_run, os.path.join(folder, "CrashProgram.exe"), "write"],
                            cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stack(report):
    text = report.decode("latin-1")
    return text[text.index("Stack:\r\n") + 8:].split("\r\n\r\n")[0].split("\r\n")


def own_frames(report):
    return [m.groups() for m in map(OWN.fullmatch, stack(report)) if m]


def symbolize(source, report, store):
    run = subprocess.run([sys.executable, os.path.join(source, "tools", "symbolize.py"), "-",
                          "--store", store], input=report, capture_output=True)
    return run.returncode, run.stdout, run.stderr.decode()


def check_offsets(nm, unstripped, plain, stripped):
    """Each frame the unstripped report names lies, in the stripped one, in that function."""
    from symbolize import PeImage
    symbols = {}
    for line in subprocess.run([nm, "-C", "--defined-only", unstripped], capture_output=True,
                               text=True).stdout.splitlines():
        address, kind, name = line.split(None, 2)
        if kind in "tT":
            symbols.setdefault(name.split("(")[0], int(address, 16))
    base = PeImage(unstripped).image_base
    starts = sorted(set(symbols.values()))
    named, places = stack(plain), stack(stripped)
    for index, line in enumerate(named):
        own = OWN.fullmatch(line)
        if not own:
            continue
        place = PLACE.fullmatch(places[index]) if index < len(places) else None
        assert place, f"frame {index} ({line}) is not a module@offset line:\n" + "\n".join(places)
        # Below the faulting frame the offset is a return address, after the call.
        address = base + int(place.group(1), 16) - (index > 0)
        start = symbols[own.group(1)]
        end = next(s for s in starts if s > start)
        assert start <= address < end, f"{places[index]} lies outside {own.group(1)}"


def post(port, report):
    boundary = "symbolsboundary"
    body = (f"--{boundary}\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nr\r\n"
            f"--{boundary}\r\nContent-Disposition: form-data; name=\"t\"; "
            f"filename=\"CrashProgram_Debug.txt\"\r\n\r\n").encode() + report + \
        f"\r\n--{boundary}--\r\n".encode()
    request = urllib.request.Request(f"http://127.0.0.1:{port}/tamsel/report.php", body, {
        "Content-Type": f"multipart/form-data; boundary={boundary}"})
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    return opener.open(request, timeout=60).read().decode().split()[-1]


def check_receiver(source, work, store, cases):
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    uploads = os.path.join(work, "uploads")
    server = subprocess.Popen(["php", "-S", f"127.0.0.1:{port}", "-t",
                               os.path.join(source, "receiver")], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, env=dict(
                                  os.environ, BRENNLOW_UPLOAD_DIR=uploads,
                                  BRENNLOW_SYMBOL_STORE=store))
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), 1).close()
                break
            except OSError:
                time.sleep(0.1)
        for report, symbolized in cases:
            folder = os.path.join(uploads, post(port, report))
            with open(os.path.join(folder, "t-CrashProgram_Debug.txt"), "rb") as f:
                assert f.read() == report, "the receiver changed the upload"
            path = os.path.join(folder, "report-symbolized.txt")
            kept = open(path, "rb").read() if os.path.exists(path) else None
            assert kept == symbolized, f"report-symbolized.txt: {kept and kept[:200]}"
    finally:
        server.terminate()
        server.wait()


def main(wine_run, program, source, strip, nm):
    sys.path.insert(0, os.path.join(source, "tools"))
    with tempfile.TemporaryDirectory() as work:
        plain, stripped, store = (os.path.join(work, name) for name in ("plain", "stripped",
                                                                        "store"))
        os.mkdir(plain)
        os.mkdir(stripped)
        subprocess.run(["cp", program, plain], check=True)
        subprocess.run([strip, "-o", os.path.join(stripped, "CrashProgram.exe"), program],
                       check=True)
        for run in [crash(wine_run, plain), crash(wine_run, stripped)]:
            run.wait(300)
        reports = [open(os.path.join(folder, "CrashProgram_Debug.txt"), "rb").read()
                   for folder in (plain, stripped)]
        expected = own_frames(reports[0])
        assert [name for name, _ in expected] == ["FaultWithNullWrite", "CrashCaller", "main"], \
            "\n".join(stack(reports[0]))
        check_offsets(nm, program, *reports)

        subprocess.run(["sh", os.path.join(source, "tools", "store-symbols.sh"),
                        os.path.join(stripped, "CrashProgram.exe"), program, "--store", store],
                       check=True, stdout=subprocess.DEVNULL)
        status, symbolized, message = symbolize(source, reports[1], store)
        assert status == 0 and own_frames(symbolized) == expected, message + symbolized.decode()
        worker = re.compile(rb" (\S+) CrashTestWorker\r\n")
        assert worker.findall(symbolized) == worker.findall(reports[0]) == [b"NamedThread"]
        # Only the module@offset lines change.
        before, after = reports[1].split(b"\n"), symbolized.split(b"\n")
        assert len(before) == len(after) and all(
            old == new or b"@0x" in old for old, new in zip(before, after))

        module = re.search(rb" 0x([0-9A-F]{8}) .*\\CrashProgram\.exe\r\n", reports[1])
        other = reports[1].replace(module.group(0), module.group(0).replace(
            module.group(1), b"%08X" % (int(module.group(1), 16) ^ 1)))
        outside = re.sub(rb"(crashprogram@0x)[0-9A-F]+", rb"\g<1>7FFFFFFF", reports[1])
        long = b"Stack:\r\n" + b"x" * 10**6 + b":x@0x0()\r\n"
        cases = [
            (other, store, 0, b"No symbols in the store for: CrashProgram.exe\r\n" + other, ""),
            (outside, store, 0, outside, ""),
            (reports[1].replace(b"ModuleList:", b"Modules:"), store, 1, b"", "no module list"),
            (reports[1] + long, store, 0, symbolized + long, ""),
            (reports[1], os.path.join(work, "none"), 1, b"", "does not exist"),
        ]
        for report, where, status, output, message in cases:
            got = symbolize(source, report, where)
            assert got[0] == status and got[1] == output and \
                message in got[2] and "Traceback" not in got[2], got
        check_receiver(source, work, store, [(reports[1], symbolized), (cases[2][0], None)])
    print("our frames match in the stripped report, by offset and after symbolization")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
