#!/usr/bin/python3
"""An HTTP server (or forward proxy) of the tests that asks for NTLM and checks each answer
with its own computation of the LM and NT responses (pycryptodome's MD4 and DES), never
with the client's library.

    ntlm_server.py server|proxy DOMAIN USER PASSWORD [KEEP-ALIVE]

It listens on a free 127.0.0.1 port, writes that port as one line to its output, and serves
until its input closes. The exchange is tied to the connection, as NTLM's is: the answer
must come on the connection that got the challenge. Every finished exchange is noted in the
body of the next answer it lets through: "welcome DOMAIN\\user". As a proxy it also opens
CONNECT tunnels, to 127.0.0.1 only, once the account is proven on that connection; its
refusals keep the connection open, their bodies framed by Content-Length. A request's body
(POST, PUT) is read before it is answered, and a passed one is noted as " METHOD body". With
KEEP-ALIVE every answer carries it as its "Keep-Alive" header ("timeout=5", say). A request
for a path under "/redirect" that proves the account is answered 307 to "/moved/".
"""
import base64
import os
import select
import socket
import struct
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import urlsplit

from Cryptodome.Cipher import DES
from Cryptodome.Hash import MD4

SIGNATURE = b"NTLMSSP\0"
MAXIMUM_MESSAGE = 4096


def des_key(seven):
    bits = int.from_bytes(seven, "big")
    return bytes(((bits >> (49 - 7 * i)) & 0x7F) << 1 for i in range(8))


def desl(key, challenge):
    key = key.ljust(21, b"\0")
    return b"".join(
        DES.new(des_key(key[i : i + 7]), DES.MODE_ECB).encrypt(challenge) for i in (0, 7, 14)
    )


def nt_response(password, challenge):
    return desl(MD4.new(password.encode("utf-16-le")).digest(), challenge)


def lm_response(password, challenge):
    upper = password.upper().encode("latin-1")[:14].ljust(14, b"\0")
    magic = b"KGS!@#$%"
    lm_hash = b"".join(
        DES.new(des_key(upper[i : i + 7]), DES.MODE_ECB).encrypt(magic) for i in (0, 7)
    )
    return desl(lm_hash, challenge)


def field(message, at):
    """The bytes a security buffer at this offset points to, or None when out of bounds."""
    if at + 8 > len(message):
        return None
    length, _, offset = struct.unpack_from("<HHI", message, at)
    if offset + length > len(message):
        return None
    return message[offset : offset + length]


def message_of(header, scheme="NTLM "):
    if not header or not header.startswith(scheme):
        return None, None
    try:
        message = base64.b64decode(header[len(scheme) :], validate=True)
    except ValueError:
        return None, None
    if len(message) < 12 or len(message) > MAXIMUM_MESSAGE or message[:8] != SIGNATURE:
        return None, None
    return struct.unpack_from("<I", message, 8)[0], message


def challenge_message(challenge, target):
    target_bytes = target.encode("utf-16-le")
    flags = 0x00000001 | 0x00000200 | 0x00010000 | 0x00000004  # unicode, NTLM, target domain
    head = SIGNATURE + struct.pack("<IHHII", 2, len(target_bytes), len(target_bytes), 48, flags)
    head += challenge + b"\0" * 8 + struct.pack("<HHI", 0, 0, 48 + len(target_bytes))
    return head + target_bytes


def relay(one, other):
    """Copies bytes both ways until either side closes (or nothing moves for a minute)."""
    sockets = [one, other]
    while True:
        ready, _, _ = select.select(sockets, [], [], 60)
        if not ready:
            return
        for source in ready:
            data = source.recv(65536)
            if not data:
                return
            (other if source is one else one).sendall(data)


def make_handler(proxy, domain, user, password, keep_alive):
    status = 407 if proxy else 401
    ask = "Proxy-Authenticate" if proxy else "WWW-Authenticate"
    tell = "Proxy-Authorization" if proxy else "Authorization"

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        challenge = None  # per connection: this object serves one connection

        def log_message(self, *args):
            pass

        def answer(self, code, body, challenge_value=None, location=None):
            data = body.encode()
            self.send_response(code)
            if challenge_value is not None:
                self.send_header(ask, challenge_value)
            if location is not None:
                self.send_header("Location", location)
            self.send_header("Content-Length", str(len(data)))
            if keep_alive:
                self.send_header("Keep-Alive", keep_alive)
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(data)

        def refuse(self, why):
            self.challenge = None
            self.answer(status, why, "NTLM")

        def proven_account(self):
            """The account this request proves, or None once it has been refused."""
            kind, message = message_of(self.headers.get(tell))
            if kind is None:
                return self.refuse("no NTLM message")
            if kind == 1:
                self.challenge = os.urandom(8)
                value = "NTLM " + base64.b64encode(
                    challenge_message(self.challenge, "SERVERDOMAIN")
                ).decode()
                return self.answer(status, "challenge", value)
            if kind != 3 or self.challenge is None:
                return self.refuse("answer without a challenge on this connection")
            challenge, self.challenge = self.challenge, None
            lm, nt = field(message, 12), field(message, 20)
            got_domain, got_user = field(message, 28), field(message, 36)
            if None in (lm, nt, got_domain, got_user):
                return self.refuse("malformed answer")
            got_domain = got_domain.decode("utf-16-le", "replace")
            got_user = got_user.decode("utf-16-le", "replace")
            if got_domain.upper() != domain.upper() or got_user.lower() != user.lower():
                return self.refuse("unknown account %s\\%s" % (got_domain, got_user))
            if nt != nt_response(password, challenge) or lm != lm_response(password, challenge):
                return self.refuse("wrong password")
            return "%s\\%s" % (got_domain, got_user)

        def body(self):
            length = int(self.headers.get("Content-Length") or 0)
            return self.rfile.read(length).decode("latin-1")

        def do_GET(self):
            sent = self.body()
            account = self.proven_account()
            if account is not None:
                if urlsplit(self.path).path.startswith("/redirect"):
                    return self.answer(307, "moved", location="/moved/")
                where = (" " + self.path) if proxy else ""
                carried = ""
                if self.command in ("POST", "PUT"):
                    carried = " %s %s" % (self.command, sent)
                self.answer(200, "welcome %s%s%s" % (account, where, carried))

        def do_CONNECT(self):
            host, _, port = self.path.rpartition(":")
            if not proxy or host not in ("127.0.0.1", "localhost") or not port.isdigit():
                self.send_error(403)
                self.close_connection = True
                return
            if self.proven_account() is None:
                return
            try:
                target = socket.create_connection(("127.0.0.1", int(port)), timeout=10)
            except OSError:
                self.send_error(502)
                self.close_connection = True
                return
            self.send_response(200, "Connection established")
            self.end_headers()
            self.wfile.flush()
            relay(self.connection, target)
            target.close()
            self.close_connection = True

        do_HEAD = do_POST = do_PUT = do_GET

    return Handler


def main():
    mode, domain, user, password = sys.argv[1:5]
    keep_alive = sys.argv[5] if len(sys.argv) > 5 else ""
    server = ThreadingHTTPServer(
        ("127.0.0.1", 0), make_handler(mode == "proxy", domain, user, password, keep_alive)
    )
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print(server.server_address[1], flush=True)
    sys.stdin.read()  # until the test closes it
    server.shutdown()


if __name__ == "__main__":
    main()
