"""A mail server for the SMTP client tests: aiosmtpd on loopback with implicit TLS or
STARTTLS and AUTH LOGIN, recording each command it sees and each message as JSON lines.

Usage: smtp_test_server.py MODE CERT KEY LOG USER PASSWORD   (MODE: implicit | starttls)
Prints "READY <port>" once it listens on a free port; runs until killed.
"""
import asyncio
import json
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult


class Recorder:
    def __init__(self, log, user, password):
        self.log, self.user, self.password = log, user, password

    def write(self, entry):
        with open(self.log, "a", encoding="utf-8") as f:
            f.write(json.dumps(entry, ensure_ascii=False) + "\n")

    @staticmethod
    def tls(server):
        return server.transport.get_extra_info("ssl_object") is not None

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        self.write({"cmd": "EHLO " + hostname, "tls": self.tls(server)})
        return responses

    async def handle_MAIL(self, server, session, envelope, address, options):
        self.write({"cmd": "MAIL FROM:<" + address + ">", "tls": self.tls(server)})
        envelope.mail_from = address
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, options):
        self.write({"cmd": "RCPT TO:<" + address + ">", "tls": self.tls(server)})
        if address.startswith("nobody@"):
            return "550 5.1.1 No such user"
        envelope.rcpt_tos.append(address)
        if address.startswith("forward@"):
            return "251 2.1.5 User not local; will forward"
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.write({"cmd": "DATA", "message": envelope.original_content.decode("utf-8", "replace")})
        return "250 Message accepted"

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        login = auth_data.login.decode("utf-8", "replace")
        password = auth_data.password.decode("utf-8", "replace")
        self.write({"cmd": "AUTH " + mechanism, "login": login, "password": password, "tls": self.tls(server)})
        accepted = login == self.user and password == self.password
        return AuthResult(success=accepted, handled=False)


def main():
    mode, cert, key, log, user, password = sys.argv[1:7]
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    recorder = Recorder(log, user, password)
    implicit = mode == "implicit"

    def factory():
        return SMTP(recorder, hostname="mail.test", authenticator=recorder.authenticate,
                    tls_context=None if implicit else context, auth_require_tls=not implicit)

    loop = asyncio.new_event_loop()
    server = loop.run_until_complete(
        loop.create_server(factory, host="127.0.0.1", port=0, ssl=context if implicit else None))
    print("READY", server.sockets[0].getsockname()[1], flush=True)
    try:
        loop.run_forever()
    finally:
        server.close()


if __name__ == "__main__":
    main()
