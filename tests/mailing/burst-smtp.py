#!/usr/bin/python3
"""An SMTP peer that fails one mail of a burst, for the burst tests.

    /usr/bin/python3 burst-smtp.py --log FILE [--drop-data-to ADDR] [--tempfail-rcpt ADDR]

--drop-data-to ADDR   the first time a mail to ADDR has been sent in full, the
                      connection is closed instead of the reply to its "."
--tempfail-rcpt ADDR  "RCPT TO:<ADDR>" is answered "451 4.3.0 try again later"

Prints "READY <port>" once it listens on a free loopback port. Every accepted
mail and every RSET is appended to FILE as one JSON line: {"session": n,
"rcpt": [...]} or {"session": n, "rset": true}. Runs until SIGTERM.
"""

import argparse
import json
import socket
import sys
import threading


class Peer:
    def __init__(self, args):
        self.args = args
        self.lock = threading.Lock()
        self.sessions = 0
        self.dropped = False

    def record(self, entry):
        with self.lock, open(self.args.log, "a", encoding="utf-8") as log:
            log.write(json.dumps(entry) + "\n")

    def serve(self, conn):
        with self.lock:
            self.sessions += 1
            session = self.sessions
        reader = conn.makefile("rb")

        def send(line):
            conn.sendall(line.encode() + b"\r\n")

        rcpts = []
        try:
            send("220 burst.test ESMTP")
            while True:
                line = reader.readline()
                if not line:
                    return
                command = line.strip().decode("utf-8", "replace")
                verb = command[:4].upper()
                if verb == "EHLO":
                    send("250-burst.test")
                    send("250 8BITMIME")
                elif verb == "MAIL":
                    rcpts = []
                    send("250 OK")
                elif verb == "RCPT":
                    address = command[command.find("<") + 1:command.rfind(">")]
                    if address == self.args.tempfail_rcpt:
                        send("451 4.3.0 try again later")
                    else:
                        rcpts.append(address)
                        send("250 OK")
                elif verb == "DATA":
                    if not rcpts:
                        send("503 5.5.1 no valid recipients")
                        continue
                    send("354 go ahead")
                    while True:
                        data = reader.readline()
                        if not data:
                            return
                        if data == b".\r\n":
                            break
                    with self.lock:
                        drop = not self.dropped and self.args.drop_data_to in rcpts
                        self.dropped = self.dropped or drop
                    if drop:
                        conn.shutdown(socket.SHUT_RDWR)
                        return
                    self.record({"session": session, "rcpt": rcpts})
                    rcpts = []
                    send("250 OK queued")
                elif verb == "RSET":
                    rcpts = []
                    self.record({"session": session, "rset": True})
                    send("250 OK")
                elif verb == "QUIT":
                    send("221 bye")
                    return
                else:
                    send("502 5.5.2 not implemented")
        except OSError:
            pass
        finally:
            conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--log", required=True)
    parser.add_argument("--drop-data-to", default="")
    parser.add_argument("--tempfail-rcpt", default="")
    args = parser.parse_args()
    peer = Peer(args)
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(8)
    print("READY %d" % server.getsockname()[1], flush=True)
    while True:
        conn, _ = server.accept()
        threading.Thread(target=peer.serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
