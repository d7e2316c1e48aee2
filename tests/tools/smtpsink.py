"""An SMTP sink for tests: an aiosmtpd handler that writes every accepted message to a folder.

Run as: python3 -m aiosmtpd -n -l 127.0.0.1:PORT -c smtpsink.Sink FOLDER (with this folder on
PYTHONPATH). Each message becomes FOLDER/NNNN.eml: one "MAIL FROM:<...>" line, one "RCPT TO:<...>"
line per recipient, an empty line, then the message data exactly as received.
"""
import itertools
import os


class Sink:
    def __init__(self, folder):
        self.folder = folder
        self.numbers = itertools.count(1)
        os.makedirs(folder, exist_ok=True)

    @classmethod
    def from_cli(cls, parser, *args):
        if len(args) != 1:
            parser.error("Sink takes one argument: the folder to write to")
        return cls(args[0])

    async def handle_DATA(self, server, session, envelope):
        number = next(self.numbers)
        head = "MAIL FROM:<%s>\n" % envelope.mail_from
        for rcpt in envelope.rcpt_tos:
            head += "RCPT TO:<%s>\n" % rcpt
        data = head.encode("utf-8", "replace") + b"\n" + envelope.original_content
        # Written whole, then renamed: a reader never sees half a message.
        temp = os.path.join(self.folder, ".%04d.tmp" % number)
        with open(temp, "wb") as f:
            f.write(data)
        os.rename(temp, os.path.join(self.folder, "%04d.eml" % number))
        return "250 OK"
