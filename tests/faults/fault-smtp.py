#!/usr/bin/python3
"""An SMTP peer that misbehaves on purpose, for the fault-injection tests.

    /usr/bin/python3 fault-smtp.py --mode MODE [--port 0]

MODE:
  greet421   answers every connection with "421 ... closing" and hangs up
  drop-data  plays a normal dialogue up to DATA, reads a few lines of the
             message and then closes the connection without a reply
  stall      accepts the connection and never says anything

Prints "READY <port>" once it listens, then one line "CONN <n>" per accepted
connection. Never stores a message. Runs until SIGTERM.
"""

import argparse
import socket
import sys
import threading
import time


def serve(conn, mode):
    f = conn.makefile("rb")

    def send(line):
        conn.sendall(line.encode() + b"\r\n")

    try:
        if mode == "greet421":
            send("421 fault.test Service not available, closing transmission channel")
            return
        if mode == "stall":
            time.sleep(120)
            return
        send("220 fault.test ESMTP")
        while True:
            line = f.readline()
            if not line:
                return
            cmd = line.strip().upper()
            if cmd.startswith(b"EHLO"):
                send("250-fault.test")
                send("250 8BITMIME")
            elif cmd.startswith(b"HELO") or cmd.startswith(b"MAIL") or cmd.startswith(b"RCPT") \
                    or cmd.startswith(b"RSET") or cmd.startswith(b"NOOP"):
                send("250 OK")
            elif cmd == b"DATA":
                send("354 go ahead")
                for _ in range(3):
                    if not f.readline():
                        break
                conn.shutdown(socket.SHUT_RDWR)
                return
            elif cmd == b"QUIT":
                send("221 bye")
                return
            else:
                send("502 not implemented")
    except OSError:
        pass
    finally:
        try:
            conn.close()
        except OSError:
            pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", required=True, choices=["greet421", "drop-data", "stall"])
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", args.port))
    srv.listen(16)
    print("READY %d" % srv.getsockname()[1], flush=True)
    n = 0
    while True:
        conn, _ = srv.accept()
        n += 1
        print("CONN %d" % n, flush=True)
        threading.Thread(target=serve, args=(conn, args.mode), daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
