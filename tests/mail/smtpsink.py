"""An independent SMTP server for the mail tests: aiosmtpd with TLS from the first byte and
AUTH LOGIN. Every letter it accepts is parsed back with Python's email package and written to
<dir>/<n>.json. Prints "PORT <n>" once it listens."""

import argparse
import asyncio
import base64
import json
import logging
import os
import ssl
import warnings
from email import message_from_bytes, policy

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Sink:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        msg = message_from_bytes(envelope.original_content, policy=policy.default)
        parts = []
        for part in msg.walk():
            if part.is_multipart():
                continue
            parts.append({
                "contentType": part.get_content_type(),
                "charset": part.get_content_charset() or "",
                "filename": part.get_filename() or "",
                "disposition": part.get_content_disposition() or "",
                "payload": base64.b64encode(part.get_payload(decode=True)).decode(),
            })
        record = {
            "login": session.auth_data.login.decode() if session.authenticated else "",
            "mailFrom": envelope.mail_from,
            "rcptTos": envelope.rcpt_tos,
            "subject": str(msg["subject"]),
            "from": str(msg["from"]),
            "to": str(msg["to"]),
            "contentType": msg.get_content_type(),
            "boundary": msg.get_boundary() or "",
            "parts": parts,
        }
        path = os.path.join(self.folder, "%d.json" % self.count)
        self.count += 1
        with open(path + ".tmp", "w", encoding="utf-8") as f:
            json.dump(record, f)
        os.rename(path + ".tmp", path)
        return "250 Message accepted"


def main():
    ap = argparse.ArgumentParser()
    for name in ("cert", "key", "dir", "login", "password"):
        ap.add_argument("--" + name, required=True)
    args = ap.parse_args()
    # AUTH without STARTTLS is what we want here: the whole connection is TLS.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.ERROR)

    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == args.login.encode()
              and auth_data.password == args.password.encode())
        # handled=False: aiosmtpd itself answers a failure with 535.
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(args.cert, args.key)
    sink = Sink(args.dir)
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    # TLS from the first byte: AUTH is allowed on it although no STARTTLS took place.
    server = loop.run_until_complete(loop.create_server(
        lambda: SMTP(sink, authenticator=authenticate, auth_required=True, auth_require_tls=False,
                     enable_SMTPUTF8=False),
        host="127.0.0.1", port=0, ssl=context))
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    loop.run_forever()


if __name__ == "__main__":
    main()
