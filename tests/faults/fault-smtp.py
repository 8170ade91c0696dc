#!/usr/bin/python3
"""An SMTP peer that misbehaves on purpose, for the fault-injection tests.

    /usr/bin/python3 fault-smtp.py --mode MODE [--port 0]

MODE:
  greet421   answers every connection with "421 ... closing" and hangs up
  drop-data  plays a normal dialogue up to DATA, reads a few lines of the
             message and then closes the connection without a reply
  stall      accepts the connection and never says anything
  defer-greet, defer-rcpt, defer-data
             the first --fails connections (default 2) are deferred with
             421 at the greeting, 451 to RCPT or 452 after the end of DATA;
             later ones are accepted
  drop-after-data
             reads the whole message, then closes without a reply

Prints "READY <port>" once it listens, then one line "CONN <n>" per accepted
connection and one line "MSG <n>" per message it accepted (250 after the
end of DATA). Never stores a message. Runs until SIGTERM.
"""

import argparse
import socket
import sys
import threading
import time


accepted = [0]
lock = threading.Lock()


def serve(conn, mode, number, fails):
    f = conn.makefile("rb")
    deferred = number <= fails

    def send(line):
        conn.sendall(line.encode() + b"\r\n")

    try:
        if mode == "greet421":
            send("421 fault.test Service not available, closing transmission channel")
            return
        if mode == "stall":
            time.sleep(120)
            return
        if mode == "defer-greet" and deferred:
            send("421 4.3.2 fault.test busy, try again later")
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
            elif cmd.startswith(b"RCPT") and mode == "defer-rcpt" and deferred:
                send("451 4.7.1 try again later")
            elif cmd.startswith(b"HELO") or cmd.startswith(b"MAIL") or cmd.startswith(b"RCPT") \
                    or cmd.startswith(b"RSET") or cmd.startswith(b"NOOP"):
                send("250 OK")
            elif cmd == b"DATA" and mode != "drop-data":
                send("354 go ahead")
                while True:
                    data = f.readline()
                    if not data:
                        return
                    if data in (b".\r\n", b".\n"):
                        break
                if mode == "drop-after-data":
                    conn.shutdown(socket.SHUT_RDWR)
                    return
                if mode == "defer-data" and deferred:
                    send("452 4.3.1 insufficient system storage")
                    continue
                with lock:
                    accepted[0] += 1
                    print("MSG %d" % accepted[0], flush=True)
                send("250 2.0.0 queued")
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
    parser.add_argument("--mode", required=True, choices=["greet421", "drop-data", "stall", "defer-greet", "defer-rcpt", "defer-data",
                                 "drop-after-data"])
    parser.add_argument("--fails", type=int, default=2)
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
        threading.Thread(target=serve, args=(conn, args.mode, n, args.fails), daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
