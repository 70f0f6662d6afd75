#!/usr/bin/env python3
"""Names the functions and lines of a crash report made without debug information.

    symbolize.py REPORT [--store DIR] [--out FILE]     (REPORT "-": standard input)
    symbolize.py --key PROGRAM [--debug FILE]

The first form rewrites every stack line and thread start that names a place as
"module@0xOFFSET" in a module whose build the symbol store holds, into the form the report
has when the program carries its symbols; everything else stays byte for byte. The second
form prints where the store keeps PROGRAM's debug information ("<file>/<key>/<file>") after
checking that FILE (default: PROGRAM) is the same build and carries debug information;
tools/store-symbols.sh files it there.

The store defaults to $BRENNLOW_SYMBOL_STORE, else "symbols" in the current folder.
"""
import argparse
import functools
import os
import re
import struct
import subprocess
import sys
import tempfile

# A report holds a few hundred lines of at most a few hundred bytes; anything far larger
# was not written by the crash reporter.
MAX_REPORT = 64 << 20
MAX_LINE = 2048
MAX_NAMED = 20  # modules the notice names
MODULE_NAME_CAPACITY = 31  # the debug-help library's module record cuts longer names
BINUTILS = {0x14C: "i686-w64-mingw32-", 0x8664: "x86_64-w64-mingw32-"}

MODULE_LINE = re.compile(rb" *(\d+) 0x([0-9A-F]{8}) .*? - (.+)")
STACK_LINE = re.compile(rb"([^:]+):\1@0x([0-9A-F]+)(\(.*)")
THREAD_LINE = re.compile(rb"(\S+ +0x[0-9A-F]+ 0x[0-9A-F]+ 0x[0-9A-F]+ )(.*)")
PLACE = re.compile(rb"(.+?)@0x([0-9A-F]+)( .*|)")


class Failure(Exception):
    pass


class PeImage:
    """The header values of a PE file that the store and the symbolizer need."""

    def __init__(self, path):
        try:
            with open(path, "rb") as f:
                data = f.read(1 << 16)
                header = self._parse(data)
                f.seek(0)
                self.data = f.read() if header else b""
        except OSError as error:
            raise Failure(f"{os.fsdecode(path)}: {error.strerror}")
        if not header:
            raise Failure(f"{os.fsdecode(path)}: not a Windows program (no PE header)")
        (self.machine, self.time_stamp, self.size_of_image, self.image_base,
         self.sections) = header

    @staticmethod
    def _parse(data):
        try:
            if data[:2] != b"MZ":
                return None
            pe = struct.unpack_from("<I", data, 0x3C)[0]
            if data[pe:pe + 4] != b"PE\0\0":
                return None
            machine, count, stamp, symbols, symbol_count, optional_size = struct.unpack_from(
                "<HHIIIH", data, pe + 4)
            optional = pe + 24
            magic = struct.unpack_from("<H", data, optional)[0]
            base_format = {0x10B: ("<I", 28), 0x20B: ("<Q", 24)}.get(magic)
            if not base_format:
                return None
            base = struct.unpack_from(base_format[0], data, optional + base_format[1])[0]
            size = struct.unpack_from("<I", data, optional + 56)[0]
            sections = []
            for at in range(optional + optional_size, optional + optional_size + 40 * count, 40):
                name, virtual_size, _, raw_size, raw_at = struct.unpack_from("<8sIIII", data, at)
                flags = struct.unpack_from("<I", data, at + 36)[0]
                sections.append((name.rstrip(b"\0"), virtual_size, raw_size, raw_at, flags))
        except struct.error:
            return None
        # Names longer than eight characters stand in the string table after the symbols.
        strings = symbols + 18 * symbol_count if symbols else None
        return machine, stamp, size, base, (sections, strings)

    def key(self, name):
        return f"{name}/{self.time_stamp:08X}{self.size_of_image:X}/{name}"

    def _section_name(self, name, strings):
        if name.startswith(b"/") and strings is not None and name[1:].isdigit():
            at = strings + int(name[1:])
            return self.data[at:self.data.find(b"\0", at)]
        return name

    def has_debug_info(self):
        sections, strings = self.sections
        return any(self._section_name(s[0], strings).startswith(b".debug_info") for s in sections)

    def code(self):
        """The contents of the code sections, which stripping leaves as they are."""
        return [self.data[at:at + min(size, raw)] for _, size, raw, at, flags in self.sections[0]
                if flags & 0x20]


def store_key(program, debug):
    shipped, built = PeImage(program), PeImage(debug)
    if shipped.code() != built.code() or shipped.machine != built.machine:
        raise Failure(f"{debug} is not the build of {program}: their code differs")
    if not built.has_debug_info():
        raise Failure(f"{debug} carries no debug information")
    return shipped.key(os.path.basename(program))


def find_in_store(store, name, key):
    """The stored file of a module, or None; the name is matched as Windows would."""
    if not name or name in (b".", b"..") or b"/" in name or b"\0" in name:
        return None
    folder = store_folders(store).get(name.lower(), name)
    path = os.path.join(store, folder, key, folder)
    return path if os.path.isfile(path) else None


@functools.lru_cache(maxsize=1)
def store_folders(store):
    try:
        return {entry.lower(): entry for entry in os.listdir(store)}
    except OSError:
        return {}


class Module:
    def __init__(self, size, stamp, path):
        self.size = int(size)
        self.stamp = stamp
        self.file = path.rsplit(b"\\", 1)[-1]
        self.stem = self.file.rsplit(b".", 1)[0] if b"." in self.file else self.file
        self.image = None

    def load(self, store):
        key = self.stamp + b"%X" % self.size
        path = find_in_store(store, self.file, key)
        try:
            self.image = PeImage(path) if path else None
        except Failure as error:
            print(f"symbolize: {error}", file=sys.stderr)
        if self.image and self.image.machine not in BINUTILS:
            self.image = None
        self.path = path


def split_lines(report):
    lines = report.split(b"\n")
    body = [line + b"\n" for line in lines[:-1]]
    return body + ([lines[-1]] if lines[-1] else [])


def read_modules(lines):
    modules = []
    for at, line in enumerate(lines):
        if line.rstrip(b"\r\n") == b"ModuleList:":
            for entry in lines[at + 2:]:
                match = len(entry) < MAX_LINE and MODULE_LINE.fullmatch(entry.rstrip(b"\r\n"))
                if not match:
                    break
                modules.append(Module(*match.groups()))
            break
    return modules


def places(lines):
    """(line index, module name, offset, how to rewrite) of every place to resolve."""
    section = None
    for at, line in enumerate(lines):
        text = line.rstrip(b"\r\n")
        if text in (b"Stack:", b"ThreadList:") or not text:
            section = text
            continue
        if len(line) > MAX_LINE:
            continue
        if section == b"Stack:":
            match = STACK_LINE.fullmatch(text)
            if match:
                yield at, match.group(1), int(match.group(2), 16), ("stack", match.group(3))
        elif section == b"ThreadList:":
            thread = THREAD_LINE.fullmatch(text)
            place = PLACE.fullmatch(thread.group(2)) if thread else None
            if place:
                yield at, place.group(1), int(place.group(2), 16), (
                    "thread", thread.group(1), place.group(3))


def short_function(name):
    """A demangled name without its parameter list, as the report names functions."""
    depth = 0
    for at in range(name.rfind(")"), -1, -1):
        depth += {")": 1, "(": -1}.get(name[at], 0)
        if depth == 0:
            return name[:at]
    return name


def run_tool(command, given, lines=None):
    """The tool's answer, as many lines as expected (any number when lines is None)."""
    try:
        run = subprocess.run(command, input="".join(given).encode("latin-1"),
                             capture_output=True, timeout=120)
    except (OSError, subprocess.TimeoutExpired) as error:
        raise Failure(f"cannot run {command[0]}: {error}")
    answer = run.stdout.decode("latin-1").splitlines()
    if run.returncode or lines is not None and len(answer) != lines:
        raise Failure(f"{command[0]} failed: {run.stderr.decode('latin-1').strip()}")
    return answer


def demangle(prefix, names):
    # The 32-bit tools drop the symbol's leading underscore but then leave the name
    # undecoded, and a stdcall function's name ends in "@<bytes of arguments>".
    names = [re.sub(r"^_?(_?Z[NL0-9].*?)(@\d+)?$", lambda m: "_" + m.group(1).lstrip("_"), name)
             for name in names]
    try:
        return run_tool([prefix + "c++filt", "--no-strip-underscore"],
                        [name + "\n" for name in names], len(names))
    except Failure:
        return names


def run_addr2line(prefix, path, addresses):
    """For each address, the outermost of the (function, place) pairs that addr2line gives:
    where code was inlined, the function that the debug-help library names is the one the
    code was inlined into."""
    answer = run_tool([prefix + "addr2line", "-a", "-f", "-i", "-e", path],
                      [f"0x{a:X}\n" for a in addresses])
    pairs = []
    for line in answer:
        if re.fullmatch(r"0x[0-9a-fA-F]+", line):
            pairs.append([])
        elif pairs:
            pairs[-1].append(line)
    if len(pairs) != len(addresses) or any(len(p) < 2 for p in pairs):
        raise Failure(f"{prefix}addr2line gave {len(pairs)} answers for {len(addresses)}")
    return [(p[-2], p[-1]) for p in pairs]


def resolve(image, path, offsets):
    """addr2line's (function, line or None, file) for each offset, None where it knows none."""
    prefix = BINUTILS[image.machine]
    answer = run_addr2line(prefix, path, [image.image_base + offset for offset in offsets])
    raws = [function for function, _ in answer]
    functions = demangle(prefix, raws)
    results = []
    for raw, function, place in zip(raws, functions, (place for _, place in answer)):
        file, _, line = place.split(" (discriminator")[0].rpartition(":")
        results.append(None if raw == "??" else
                       (short_function(function), int(line) if line.isdigit() and line != "0"
                        else None, file))
    return results


def symbol_table_names(image, path, offsets):
    """For code without debug information (the runtime's assembly routines, such as the
    stack probe), the function of the symbol table that holds each offset, without a line."""
    prefix = BINUTILS[image.machine]
    starts = []
    for line in run_tool([prefix + "nm", "--defined-only", path], []):
        fields = line.split(None, 2)
        if len(fields) == 3 and fields[1] in "tT":
            starts.append((int(fields[0], 16), fields[2]))
    starts.sort()
    names = []
    for offset in offsets:
        before = [name for start, name in starts if start <= image.image_base + offset]
        names.append(before[-1] if before else None)
    known = [name for name in names if name]
    named = dict(zip(known, demangle(prefix, known)))
    return [(short_function(named[name]), None, "") if name else None for name in names]


def rewrite(line, module, found, how):
    function, number, file = (part.encode("latin-1") if isinstance(part, str) else part
                              for part in found)
    end = line[len(line.rstrip(b"\r\n")):]
    if how[0] == "thread":
        return how[1] + function + how[2] + end
    if number is None:
        return module + b":" + function + how[1] + end
    return function + how[1] + b" - Line %d in " % number + file + end


def symbolize(report, store):
    lines = split_lines(report)
    modules = read_modules(lines)
    if not modules:
        raise Failure("the report has no module list: nothing tells which builds it names")
    # Frames name a module as the debug-help library does: the file name without its
    # extension, cut to the length of its record.
    named = {}
    for module in reversed(modules):
        named[module.stem.lower()] = named[module.stem.lower()[:MODULE_NAME_CAPACITY]] = module
    wanted = {}
    for at, name, offset, how in places(lines):
        module = named.get(name.lower())
        if module:
            wanted.setdefault(module, []).append((at, name, offset, how))
    missing = []
    for module, entries in wanted.items():
        module.load(store)
        if not module.image:
            missing.append(module.file)
            continue
        inside = [entry for entry in entries if entry[2] < module.size]
        # As in the report's own lines, a return address names the line that holds it.
        found = resolve(module.image, module.path, [offset for _, _, offset, _ in inside])
        unknown = [entry for entry, result in zip(inside, found) if not result and entry[3][0] == "stack"]
        if unknown:
            found += symbol_table_names(module.image, module.path, [entry[2] for entry in unknown])
            inside += unknown
        for (at, name, _, how), result in zip(inside, found):
            if result:
                lines[at] = rewrite(lines[at], name, result, how)
    if missing:
        end = lines[0][len(lines[0].rstrip(b"\r\n")):] or b"\r\n"
        more = b" and %d more" % (len(missing) - MAX_NAMED) if len(missing) > MAX_NAMED else b""
        lines.insert(0, b"No symbols in the store for: " + b", ".join(missing[:MAX_NAMED]) + more +
                     end)
    return b"".join(lines)


def write_atomically(path, data):
    folder = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(dir=folder, prefix=".symbolize-")
    try:
        with os.fdopen(handle, "wb") as f:
            f.write(data)
        os.replace(temporary, path)
    except OSError:
        os.unlink(temporary)
        raise


def main(argv):
    parser = argparse.ArgumentParser(prog="symbolize.py", description=__doc__.split("\n")[0])
    parser.add_argument("report", nargs="?")
    parser.add_argument("--store", default=os.environ.get("BRENNLOW_SYMBOL_STORE") or "symbols")
    parser.add_argument("--out")
    parser.add_argument("--key", metavar="PROGRAM")
    parser.add_argument("--debug", metavar="FILE")
    options = parser.parse_args(argv)
    try:
        if options.key:
            print(store_key(options.key, options.debug or options.key))
            return 0
        if not options.report:
            parser.error("name a report")
        if not os.path.isdir(options.store):
            raise Failure(f"the symbol store {options.store} does not exist")
        if options.report == "-":
            report = sys.stdin.buffer.read(MAX_REPORT + 1)
        else:
            with open(options.report, "rb") as f:
                report = f.read(MAX_REPORT + 1)
        if len(report) > MAX_REPORT:
            raise Failure(f"{options.report} is over {MAX_REPORT >> 20} MB: not a crash report")
        result = symbolize(report, os.fsencode(options.store))
        if options.out:
            write_atomically(options.out, result)
        else:
            sys.stdout.buffer.write(result)
        return 0
    except Failure as error:
        print(f"symbolize: {error}", file=sys.stderr)
    except OSError as error:
        print(f"symbolize: {error.filename or ''}: {error.strerror}", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
