#!/usr/bin/python3
"""A real SMTP server for the tests, built on aiosmtpd (Debian python3-aiosmtpd).

Run it with /usr/bin/python3 (Debian's packages belong to that interpreter):

    /usr/bin/python3 smtp-server.py --maildir DIR [--host 127.0.0.1] [--port 0]
        [--mode plain|tls|starttls] [--cert FILE --key FILE]
        [--user NAME --password SECRET] [--require-auth]

--mode plain     plain TCP; AUTH is offered without TLS
--mode tls       TLS from the first byte (implicit TLS, "SMTPS")
--mode starttls  plain TCP that offers STARTTLS (required before MAIL)
--cert, --key    PEM files of the server certificate (tls and starttls)
--user/--password  the one account that AUTH PLAIN and AUTH LOGIN accept;
                 without them every AUTH fails
--require-auth   refuse MAIL until the client has authenticated
--port 0         (the default) picks a free loopback port

When it listens it prints one line "READY <port>" on stdout. Each accepted
message is stored in --maildir as NNNN.eml (the message bytes as received,
dot-transparency removed) with NNNN.json beside it, which is written first:
{"mail_from": ..., "rcpt_tos": [...], "authenticated": bool, "tls": bool,
"peer": [client host, client port]}.
It runs until SIGTERM or SIGINT.
"""

import argparse
import json
import os
import signal
import socket
import ssl
import sys
import threading

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class Store:
    def __init__(self, maildir):
        self.maildir = maildir
        self.count = 0
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            base = os.path.join(self.maildir, "%04d" % self.count)
        meta = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": list(envelope.rcpt_tos),
            "authenticated": bool(session.authenticated),
            "tls": session.ssl is not None
            or server.transport.get_extra_info("ssl_object") is not None,
            "peer": list(session.peer or ()),
        }
        with open(base + ".json", "w", encoding="utf-8") as f:
            json.dump(meta, f)
        content = envelope.original_content
        if isinstance(content, str):
            content = content.encode("utf-8", "surrogateescape")
        with open(base + ".eml.part", "wb") as f:
            f.write(content)
        os.rename(base + ".eml.part", base + ".eml")
        return "250 OK stored %04d" % self.count


def make_authenticator(user, password):
    def authenticate(server, session, envelope, mechanism, auth_data):
        if not isinstance(auth_data, LoginPassword) or user is None:
            return AuthResult(success=False, handled=False)
        ok = auth_data.login == user.encode() and auth_data.password == password.encode()
        return AuthResult(success=ok, handled=False)
    return authenticate


def free_port(host):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind((host, 0))
        return s.getsockname()[1]


def main():
    p = argparse.ArgumentParser(description="aiosmtpd test server")
    p.add_argument("--maildir", required=True)
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--mode", choices=["plain", "tls", "starttls"], default="plain")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--user")
    p.add_argument("--password", default="")
    p.add_argument("--require-auth", action="store_true")
    a = p.parse_args()

    os.makedirs(a.maildir, exist_ok=True)
    port = a.port or free_port(a.host)

    context = None
    if a.mode != "plain":
        if not (a.cert and a.key):
            p.error("--mode %s needs --cert and --key" % a.mode)
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(a.cert, a.key)

    kwargs = dict(
        authenticator=make_authenticator(a.user, a.password),
        auth_required=a.require_auth,
        auth_require_tls=False,
        data_size_limit=64 * 1024 * 1024,
    )
    if a.mode == "starttls":
        kwargs.update(tls_context=context, require_starttls=True)
    controller = Controller(Store(a.maildir), hostname=a.host, port=port,
                            ssl_context=context if a.mode == "tls" else None,
                            server_hostname="localhost", **kwargs)
    controller.start()
    print("READY %d" % port, flush=True)

    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    signal.signal(signal.SIGINT, lambda *_: done.set())
    while not done.wait(0.5):
        pass
    controller.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
