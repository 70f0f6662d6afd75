"""Parses the form that the upload test captured (request.bin) with the standard MIME
parser and compares each part with fields.txt: name, file name or "-", value or "@file"."""
import email.parser
import email.policy
import pathlib
import sys


def main(folder):
    request = (folder / "request.bin").read_bytes()
    head, _, body = request.partition(b"\r\n\r\n")
    content_type = next(line for line in head.split(b"\r\n")
                        if line.lower().startswith(b"content-type:"))
    message = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
        content_type + b"\r\n\r\n" + body)
    if not message.is_multipart() or message.defects:
        return f"not a clean multipart form: {message.defects}"
    parts = [(part.get_param("name", header="content-disposition"),
              part.get_filename() or "-", part.get_payload(decode=True))
             for part in message.iter_parts()]
    expected = []
    for line in (folder / "fields.txt").read_text().splitlines():
        name, filename, value = line.split("\t")
        data = (folder / value[1:]).read_bytes() if value.startswith("@") else value.encode()
        expected.append((name, filename, data))
    for index, (got, want) in enumerate(zip(parts, expected)):
        if got != want:
            return f"part {index}: parsed {got[:2]} ({len(got[2])} bytes), sent {want[:2]} ({len(want[2])} bytes)"
    if len(parts) != len(expected):
        return f"parsed {len(parts)} parts, sent {len(expected)}"
    print(f"{len(parts)} parts parsed as sent")
    return 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1])))
