"""Asks a running mpv over its JSON IPC socket: `mpv_ipc.py SOCKET get PROPERTY` prints the
property's value; `mpv_ipc.py SOCKET quit` asks it to quit. Fails within 2 s when mpv does
not answer."""
import json
import socket
import sys

path, action = sys.argv[1], sys.argv[2]
command = ["get_property", sys.argv[3]] if action == "get" else ["quit"]
with socket.socket(socket.AF_UNIX) as s:
    s.settimeout(2)
    s.connect(path)
    s.sendall(json.dumps({"command": command, "request_id": 1}).encode() + b"\n")
    received = b""
    while True:
        piece = s.recv(4096)
        if not piece:
            sys.exit(1)
        received += piece
        for line in received.split(b"\n")[:-1]:
            reply = json.loads(line)
            if reply.get("request_id") == 1:
                if reply.get("error") != "success":
                    sys.exit(1)
                if reply.get("data") is not None:
                    print(reply["data"])
                sys.exit(0)
