"""The fault program's reports, built and stripped, of a null write and of faults in a
frameless function and in a C runtime routine: the stripped report names our frames by
module and offset, which the symbolizer names again from the symbol store.
Arguments: wine-run, CrashProgram.exe, the source folder, the architecture's strip."""
import os
import re
import subprocess
import sys
import tempfile

OWN = re.compile(r"(\w+)\(.*\) - Line (\d+) in .*[\\/]CrashProgram\.cpp")
# Wine's debug-help library names modules in lower case.
PLACE = re.compile(r"crashprogram:crashprogram@0x([0-9A-F]+)\(.*")
THREAD_START = re.compile(rb"\d+ +0x[0-9A-F]+ 0x[0-9A-F]+ 0x[0-9A-F]+ (\S+)", re.M)
NOTICE = b"No symbols in the store for: "


def stack(report):
    text = report.decode("latin-1")
    return text[text.index("Stack:\r\n") + 8:].split("\r\n\r\n")[0].split("\r\n")


def own_frames(report):
    return [m.groups() for m in map(OWN.fullmatch, stack(report)) if m]


def own_frames_with_call_lines(program, stripped, symbolized):
    """The symbolized report's own frames, each with the line of the call before its return
    address (None for the faulting frame; "inlined" in inlined code, named by any of its
    function's lines): debug-help libraries name that line or the return address's one."""
    from symbolize import BINUTILS, PeImage, resolve
    image = PeImage(program)
    frames = []
    for index, (before, after) in enumerate(zip(stack(stripped), stack(symbolized))):
        own, place = OWN.fullmatch(after), PLACE.fullmatch(before)
        if own and place:
            address = int(place.group(1), 16) - 1
            call = resolve(image, program, [address])[0] if index else None
            chain = run([BINUTILS[image.machine] + "addr2line", "-i", "-e", program,
                         "0x%X" % (image.image_base + address)])[1].split()
            frames.append(own.groups() + ("inlined" if len(chain) > 1 else
                                          str(call[1]) if call else None,))
    return frames


def frames_agree(expected, frames, lines):
    return [name for name, _ in expected] == [name for name, _, _ in frames] and all(
        not lines or line == want or call in (want, "inlined")
        for (_, want), (_, line, call) in zip(expected, frames))


def run(command, given=b""):
    done = subprocess.run(command, input=given, capture_output=True)
    return done.returncode, done.stdout, done.stderr.decode()


def read(path):
    return open(path, "rb").read() if os.path.exists(path) else None


def main(wine_run, program, source, strip):
    sys.dont_write_bytecode = True  # nothing of ours in the source tree
    sys.path.insert(0, os.path.join(source, "tools"))
    symbolize = [sys.executable, os.path.join(source, "tools", "symbolize.py"), "-", "--store"]
    failures = []
    work = tempfile.mkdtemp()
    store = os.path.join(work, "store")
    # Each fault with the function that must call it in both reports.
    modes = {"write": "CrashCaller", "frameless": "CallFrameless", "library": "PassBadPointer"}
    folders = {(mode, copy): os.path.join(work, copy + mode) for mode in modes for copy in "ps"}
    for (_, copy), folder in folders.items():
        os.mkdir(folder)
        subprocess.run([strip, "-o", os.path.join(folder, "CrashProgram.exe"), program]
                       if copy == "s" else ["cp", program, folder], check=True)
    for crash in [subprocess.Popen([wine_run, os.path.join(folder, "CrashProgram.exe"), mode],
                                   cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                  for (mode, _), folder in folders.items()]:
        crash.wait(300)
    reports = {mode: [read(os.path.join(folders[mode, copy], "CrashProgram_Debug.txt"))
                      for copy in "ps"] for mode in modes}
    # main calls CrashCaller from code inlined into it, and is named for that code.
    assert [name for name, _ in own_frames(reports["write"][0])] == [
        "FaultWithNullWrite", "CrashCaller", "main"], "\n".join(stack(reports["write"][0]))

    # The store was begun elsewhere in other case, and another run's temporary file is left.
    from symbolize import PeImage
    name, key, _ = PeImage(os.path.join(folders["write", "s"], "CrashProgram.exe")).key(
        "CrashProgram.exe").split("/")
    filed = os.path.join(store, name.lower(), key.lower())
    os.makedirs(os.path.join(filed, name + ".part"))
    subprocess.run(["sh", os.path.join(source, "tools", "store-symbols.sh"),
                    os.path.join(folders["write", "s"], "CrashProgram.exe"), program,
                    "--store", store],
                   check=True, stdout=subprocess.DEVNULL)
    if os.listdir(store) != [name.lower()] or not os.path.isfile(os.path.join(filed, name)):
        failures.append(f"the store holds {list(os.walk(store))}")
    # Every frame of ours in the stripped report is named again; the null write's at its line
    # or its call's (Wine's library may name a line of other code inlined into main).
    for mode, caller in reversed(modes.items()):  # "write" last: its reports are used below
        plain, stripped = reports[mode]
        status, symbolized, message = run(symbolize + [store], stripped)
        expected, named = own_frames(plain), own_frames_with_call_lines(program, stripped, symbolized)
        if status or caller not in [name for name, _ in expected] or \
                not frames_agree(expected, named, mode == "write"):
            failures.append(f"{mode}: symbolized {named}, unstripped {expected}: {message}\n" +
                            "\n".join(stack(plain) + stack(stripped)))
    reports = reports["write"]
    if THREAD_START.findall(symbolized) != THREAD_START.findall(reports[0]):
        failures.append(f"thread starts: {THREAD_START.findall(symbolized)}")
    # Only the module@offset lines change; system modules without symbols are named first.
    notice = symbolized[:symbolized.index(b"\n") + 1] if symbolized.startswith(NOTICE) else b""
    before, after = reports[1].split(b"\n"), symbolized[len(notice):].split(b"\n")
    if len(before) != len(after) or any(old != new and b"@0x" not in old
                                        for old, new in zip(before, after)):
        failures.append("the symbolizer changed other lines")

    module = re.search(rb" 0x([0-9A-F]{8}) .*\\CrashProgram\.exe\r\n", reports[1])
    other = reports[1].replace(module.group(0), module.group(0).replace(
        module.group(1), b"%08X" % (int(module.group(1), 16) ^ 1)))
    outside = re.sub(rb"(crashprogram@0x)[0-9A-F]+", rb"\g<1>7FFFFFFF", reports[1])
    long = b"Stack:\r\n" + b"x" * 10**6 + b":x@0x0()\r\n"
    listless = reports[1].replace(b"ModuleList:", b"Modules:")
    for report, where, result in [
            (other, store, (0, NOTICE + b"CrashProgram.exe" + (notice and b", " + notice[
                len(NOTICE):] or b"\r\n") + other)),
            (outside, store, (0, notice + outside)),
            (reports[1] + long, store, (0, symbolized + long)),
            (listless, store, (1, b"", "no module list")),
            (reports[1], os.path.join(work, "none"), (1, b"", "does not exist"))]:
        got = run(symbolize + [where], report)
        if got[:2] != result[:2] or result[2:] and result[2] not in got[2]:
            failures.append(f"hostile report: {got[0]}, {got[2]}: {got[1][:300]}")

    subprocess.run(["rm", "-rf", work])
    print("\n\n".join(failures) or "our frames match in the stripped and symbolized reports")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
