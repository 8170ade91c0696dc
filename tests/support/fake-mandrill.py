#!/usr/bin/python3
"""A stand-in for the Mandrill transactional e-mail API, for tests and demos.

Usage:
  /usr/bin/python3 fake-mandrill.py --record FILE [--port-file FILE]
                   [--script FILE] [--host 127.0.0.1] [--port 0]
                   [--max-seconds 600] [--tls CERT KEY]

  --record FILE     every request is appended to FILE as one JSON line, before
                    it is answered: {"n": 1, "method": "POST", "path": "...",
                    "content_type": "...", "body": <parsed JSON or null>,
                    "raw": "<request body text>"}
  --port-file FILE  the port actually bound is written to FILE (atomically)
                    once the server listens; it is also printed to stdout as
                    "fake-mandrill: listening on HOST:PORT"
  --script FILE     scripted replies (see below); re-read whenever the file
                    changes, so a test may rewrite it between requests
  --port 0          any free port (default); the server binds HOST only
  --max-seconds N   the server stops by itself after N seconds (default 600)
  --tls CERT KEY    serve HTTPS with this certificate chain and key (PEM)

Each recorded line also names the client's connection ("peer": "host:port"),
so a test can tell kept-alive connections from new ones.

Without a script, /api/1.0/messages/send.json answers
  [{"email": <recipient>, "status": "sent", "_id": "fake-<n>", "reject_reason": null}]
and /api/1.0/messages/info.json answers
  {"_id": <id>, "state": "sent", "metadata": {"mid": <mid of that send>}}.

Script: a JSON object with the optional lists "send" and "info". The n-th
request to an endpoint takes the n-th entry of its list; when the list runs
out its last entry repeats (an empty or missing list means the default
reply). An entry is an object:
  "status": HTTP status code (default 200)
  "json":   reply body, serialised as JSON; inside its strings $EMAIL, $N,
            $ID and $MID are replaced by the recipient, the request's number
            for its endpoint, the asked identifier (info) and the row's mid
            (from the send's metadata, or the send recorded for that id)
  "body":   reply body as raw text (used when "json" is absent); "" = empty
  "delay":  seconds to wait before answering
  "drop":   true = close the connection without any answer
  "close":  true = answer with "Connection: close" and close the connection
  "chunked": true = send the reply body in chunked transfer coding
  "chunk":  bytes per chunk with "chunked" (default 7)
  "raw":    the whole reply, status line and head included, as text whose
            characters are written as bytes (latin-1); nothing else is sent
            and the connection stays open
  "hangup": seconds after the reply (kept-alive as far as the client can
            tell) the server closes the connection without a word
  "default": true = the default reply described above (other keys, such
            as "delay", still apply)
A string entry is shorthand for {"json": [{"email": "$EMAIL",
"status": <string>, "_id": "fake-$N", "reject_reason": null}]} on "send"
and {"_id": "$ID", "state": <string>, "metadata": {"mid": "$MID"}} on "info".
A "$MID" that makes up a whole string becomes a number.
"""

import argparse
import json
import os
import socket
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SEND_PATH = "/api/1.0/messages/send.json"
INFO_PATH = "/api/1.0/messages/info.json"


class State:
    def __init__(self, record_path, script_path):
        self.lock = threading.Lock()
        self.record_path = record_path
        self.script_path = script_path
        self.script = {}
        self.script_mtime = None
        self.total = 0
        self.counts = {"send": 0, "info": 0}
        self.mid_by_id = {}

    def load_script(self):
        if not self.script_path:
            return {}
        try:
            mtime = os.stat(self.script_path).st_mtime_ns
        except OSError:
            return self.script
        if mtime != self.script_mtime:
            try:
                with open(self.script_path, encoding="utf-8") as handle:
                    self.script = json.load(handle)
                self.script_mtime = mtime
            except (OSError, ValueError) as error:
                sys.stderr.write("fake-mandrill: cannot read script: %s\n" % error)
        return self.script

    def record(self, entry):
        with open(self.record_path, "a", encoding="utf-8") as handle:
            handle.write(json.dumps(entry, sort_keys=True) + "\n")
            handle.flush()


def substitute(value, variables):
    if isinstance(value, str):
        if value == "$MID":
            return variables["mid_number"]
        for name in ("$EMAIL", "$N", "$ID", "$MID"):
            value = value.replace(name, str(variables[name]))
        return value
    if isinstance(value, list):
        return [substitute(item, variables) for item in value]
    if isinstance(value, dict):
        return {key: substitute(item, variables) for key, item in value.items()}
    return value


def default_entry(endpoint, word="sent"):
    if endpoint == "send":
        return {"json": [{"email": "$EMAIL", "status": word, "_id": "fake-$N", "reject_reason": None}]}
    return {"json": {"_id": "$ID", "state": word, "metadata": {"mid": "$MID"}}}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "fake-mandrill/1"

    def log_message(self, fmt, *args):  # keep test output quiet
        pass

    def do_GET(self):
        self.handle_request()

    def do_POST(self):
        self.handle_request()

    def handle_request(self):
        state = self.server.state
        length = int(self.headers.get("Content-Length") or 0)
        raw = self.rfile.read(length) if length > 0 else b""
        text = raw.decode("utf-8", "replace")
        try:
            body = json.loads(text) if text else None
        except ValueError:
            body = None
        endpoint = "send" if self.path == SEND_PATH else "info" if self.path == INFO_PATH else None

        with state.lock:
            state.total += 1
            number = 0
            if endpoint:
                state.counts[endpoint] += 1
                number = state.counts[endpoint]
            email, mid, asked = "", 0, ""
            message = body.get("message") if isinstance(body, dict) else None
            if endpoint == "send" and isinstance(message, dict):
                recipients = message.get("to") or [{}]
                if isinstance(recipients, list) and recipients and isinstance(recipients[0], dict):
                    email = recipients[0].get("email", "")
                metadata = message.get("metadata") or {}
                if isinstance(metadata, dict):
                    mid = metadata.get("mid", 0)
                state.mid_by_id["fake-%d" % number] = mid
            if endpoint == "info" and isinstance(body, dict):
                asked = str(body.get("id", ""))
                mid = state.mid_by_id.get(asked, 0)
            state.record({
                "n": state.total,
                "method": self.command,
                "path": self.path,
                "content_type": self.headers.get("Content-Type", ""),
                "body": body,
                "raw": text,
                "peer": "%s:%d" % self.client_address[:2],
            })
            entries = state.load_script().get(endpoint, []) if endpoint else []
            if entries:
                entry = entries[min(number, len(entries)) - 1]
            else:
                entry = {"default": True}

        if endpoint is None:
            self.reply(404, b'{"status": "error", "code": -1, "name": "Unknown_Path", "message": "no such path"}')
            return
        if isinstance(entry, str):
            entry = default_entry(endpoint, entry)
        if entry.get("default"):
            merged = default_entry(endpoint)
            merged.update({key: value for key, value in entry.items() if key != "default"})
            entry = merged
        variables = {"$EMAIL": email, "$N": number, "$ID": asked, "$MID": mid, "mid_number": mid}

        delay = float(entry.get("delay", 0))
        if delay > 0:
            time.sleep(delay)
        if "raw" in entry:
            try:
                self.wfile.write(str(entry["raw"]).encode("latin-1"))
                self.wfile.flush()
            except OSError:
                pass
            return
        if entry.get("drop"):
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            return
        if "json" in entry:
            payload = json.dumps(substitute(entry["json"], variables)).encode("utf-8")
        else:
            payload = str(entry.get("body", "")).encode("utf-8")
        self.reply(int(entry.get("status", 200)), payload, bool(entry.get("close")),
                   bool(entry.get("chunked")), int(entry.get("chunk", 7)))
        if "hangup" in entry:
            time.sleep(float(entry["hangup"]))
            self.close_connection = True

    def reply(self, status, payload, close=False, chunked=False, chunk=7):
        head = ["HTTP/1.1 %d %s" % (status, self.responses.get(status, ("",))[0]),
                "Server: " + self.version_string(), "Date: " + self.date_time_string(),
                "Content-Type: application/json"]
        if chunked:
            head.append("Transfer-Encoding: chunked")
            # Uneven pieces, one with an extension, as servers do.
            pieces = [payload[i:i + chunk] for i in range(0, len(payload), chunk)]
            body = b"".join(b"%x%s\r\n%s\r\n" % (len(piece), b";n=1" if index == 1 else b"", piece)
                            for index, piece in enumerate(pieces))
            body += b"0\r\nX-Trailer: end\r\n\r\n"
        else:
            head.append("Content-Length: %d" % len(payload))
            body = payload
        if close:
            head.append("Connection: close")
            self.close_connection = True
        try:
            # Head and body in one write: two would make every reply wait
            # for the client's delayed ACK, and hide the clients' own cost.
            self.wfile.write(("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + body)
            self.wfile.flush()
        except OSError:
            pass  # the client gave up (a timeout test)


def main():
    parser = argparse.ArgumentParser(description="Fake Mandrill API")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--record", required=True)
    parser.add_argument("--port-file")
    parser.add_argument("--script")
    parser.add_argument("--max-seconds", type=float, default=600)
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    args = parser.parse_args()

    server = ThreadingHTTPServer((args.host, args.port), Handler)
    if args.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls[0], args.tls[1])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    server.daemon_threads = True
    server.state = State(args.record, args.script)
    open(args.record, "a").close()
    port = server.server_address[1]
    if args.port_file:
        temporary = args.port_file + ".tmp"
        with open(temporary, "w") as handle:
            handle.write("%d\n" % port)
        os.replace(temporary, args.port_file)
    print("fake-mandrill: listening on %s:%d" % (args.host, port), flush=True)

    stopper = threading.Timer(args.max_seconds, server.shutdown)
    stopper.daemon = True
    stopper.start()
    try:
        server.serve_forever(poll_interval=0.1)
    except KeyboardInterrupt:
        pass
    server.server_close()


if __name__ == "__main__":
    main()
