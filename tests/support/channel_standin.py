"""Local stand-in of the channel service on one port, for the launcher's channel road.

Requests for the status API host get the canned answer of --answer: a file that starts
with "HTTP/" is sent as it stands (any status, any framing, broken ones too); any other
file is the body of a 200 answer. Requests for the playlist host are served from the
folder of --hls (request path below it). Every request's exact bytes, head and body, are
appended to --record. Once listening, it writes "ready" to --ready.
"""
import argparse
import mimetypes
import os
import socketserver

API_HOST = "goodgame.ru"
HLS_HOST = "hls.goodgame.ru"
MAX_HEAD = 64 * 1024

mimetypes.add_type("application/vnd.apple.mpegurl", ".m3u8")
mimetypes.add_type("video/mp2t", ".ts")


def read_request(conn):
    """The request's bytes up to the end of its head (and a Content-Length body)."""
    data = b""
    while b"\r\n\r\n" not in data and len(data) < MAX_HEAD:
        piece = conn.recv(4096)
        if not piece:
            break
        data += piece
    head, _, body = data.partition(b"\r\n\r\n")
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length" and value.strip().isdigit():
            while len(body) < int(value):
                piece = conn.recv(4096)
                if not piece:
                    break
                body += piece
                data += piece
    return data, head


def field(head, wanted):
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == wanted:
            return value.strip().decode("latin-1")
    return ""


def answer(status, body, kind="text/plain"):
    return (f"HTTP/1.1 {status}\r\nContent-Type: {kind}\r\nContent-Length: {len(body)}\r\n"
            f"Connection: close\r\n\r\n").encode() + body


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        self.request.settimeout(10)
        try:
            data, head = read_request(self.request)
        except OSError:
            return
        if not data:
            return
        if options.record:
            with open(options.record, "ab") as record:
                record.write(data)
        host = field(head, b"host").split(":")[0]
        target = head.split(b" ")[1].decode("latin-1") if head.count(b" ") >= 2 else "/"
        if host == HLS_HOST and options.hls:
            reply = self.from_folder(target.split("?")[0])
        elif host == API_HOST and options.answer:
            with open(options.answer, "rb") as canned:
                text = canned.read()
            reply = text if text.startswith(b"HTTP/") else answer("200 OK", text, "application/json")
        else:
            reply = answer("404 Not Found", b"no such host here\n")
        try:
            self.request.sendall(reply)
        except OSError:
            pass

    def from_folder(self, path):
        root = os.path.realpath(options.hls)
        file = os.path.realpath(os.path.join(root, path.lstrip("/")))
        if not file.startswith(root + os.sep) or not os.path.isfile(file):
            return answer("404 Not Found", b"no such file\n")
        with open(file, "rb") as f:
            body = f.read()
        return answer("200 OK", body, mimetypes.guess_type(file)[0] or "application/octet-stream")


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


parser = argparse.ArgumentParser(description=__doc__)
parser.add_argument("--port", type=int, default=80)
parser.add_argument("--answer")
parser.add_argument("--record")
parser.add_argument("--hls")
parser.add_argument("--ready", required=True)
options = parser.parse_args()

with Server(("127.0.0.1", options.port), Handler) as server:
    with open(options.ready, "w") as ready:
        ready.write("ready\n")
    server.serve_forever()
