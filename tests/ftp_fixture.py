#!/usr/bin/python3
"""A local EPO server for the download tests.

Serves one directory on 127.0.0.1 to the user "qpd3702" with the password "plovix", active
mode only (PASV and EPSV are refused, so a client that tries passive mode fails; --passive
takes them, for the clients of any FTP server). Prints
"PORT <n>" on one line when it listens, then runs until SIGTERM or until its standard input
closes (so it never outlives the test that started it).

Modes:
  normal   serve the directory
  drop     like normal, but a retrieval sends half of the file and then the server drops
           both the data and the control connection
  stall    like normal, but a retrieval sends half of the file and then nothing more, with
           both connections left open
  trickle  like normal, but a retrieval sends 2 bytes a second
  silent   accept connections and never say a word (not even the greeting)

--password P makes the server expect another password (a wrong-password case for the client);
--no-size refuses SIZE, so the client cannot learn a file's size before it arrives.

After the "PORT" line, standard output has one line per command received ("CMD <verb>
<arg>") and per finished retrieval ("SENT <name>" when the file went out whole, "INCOMPLETE
<name>" when the transfer ended early), so a test can wait for what the client asked for and
see whether it stopped early, without a file of its own.

Needs Debian's python3-pyftpdlib; run it with /usr/bin/python3.
"""
import argparse
import logging
import os
import signal
import socket
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FileProducer, FTPHandler
from pyftpdlib.log import config_logging
from pyftpdlib.servers import FTPServer

USER = "qpd3702"
PASSWORD = "plovix"


def exit_when_stdin_closes():
    def watch():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        finally:
            os._exit(0)
    threading.Thread(target=watch, daemon=True).start()


class Log:
    def write(self, line):
        print(line, flush=True)


class MeteredDTP(DTPHandler):
    """Sends a retrieved file `step` bytes a second (trickle); with half_first, half of it at
    once and then nothing, the connection left open (stall)."""

    half_first = False
    step = 2

    def push_with_producer(self, producer):
        if self.file_obj is None:  # a listing goes out as usual
            return super().push_with_producer(producer)
        self._content = b"".join(iter(producer.more, b""))
        self._at = 0
        self._closing = False
        if self.half_first:
            self._at = len(self._content) // 2
            self.push(self._content[:self._at])
        else:
            self._drip()

    def _drip(self):
        self.push(self._content[self._at:self._at + self.step])
        self._at += self.step
        if self._at < len(self._content):
            self.call_later(1.0, self._drip)
        elif self._closing:
            super().close_when_done()

    def _unsent(self):
        return getattr(self, "_content", None) is not None and self._at < len(self._content)

    def close_when_done(self):
        if self._unsent():
            self._closing = True  # closed once the last bytes went out
            return
        super().close_when_done()

    def handle_close(self):
        # The client ended it: bytes not yet dripped count as unsent, as queued ones would.
        if not self._closed and self._unsent():
            self.transfer_finished = False
            self._resp = ("426 Transfer aborted; %d bytes transmitted." % self.get_transmitted_bytes(),
                          logging.debug)
            self.close()
            return
        super().handle_close()


def make_handler(log, drop, password, no_size, passive=False):
    class HalfFileProducer(FileProducer):
        """Gives half of the file, then drops the whole session."""

        def __init__(self, fd, type_, handler):
            super().__init__(fd, type_)
            self.handler = handler
            size = os.fstat(fd.fileno()).st_size
            self.limit = size // 2
            self.sent = 0

        def more(self):
            if self.sent >= self.limit:
                log.write("DROP")
                handler = self.handler
                if handler.data_channel is not None:
                    handler.data_channel.socket.setsockopt(
                        socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
                handler.socket.setsockopt(
                    socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
                handler.close()
                return b""
            data = self.file.read(min(4096, self.limit - self.sent))
            self.sent += len(data)
            return data

    refused = (() if passive else ("PASV", "EPSV")) + (("SIZE",) if no_size else ())
    commands = {k: v for k, v in FTPHandler.proto_cmds.items() if k not in refused}

    class Handler(FTPHandler):
        # Active mode only unless asked otherwise: no passive data connections.
        proto_cmds = commands

        def pre_process_command(self, line, cmd, arg):
            log.write(("CMD %s %s" % (cmd, arg if cmd != "PASS" else "***")).rstrip())
            if cmd == "PASS":
                log.write("PASSWORD-OK" if arg == password else "PASSWORD-WRONG")
            return super().pre_process_command(line, cmd, arg)

        def ftp_LIST(self, path):
            # Like most servers, take the mask "*" as every entry of the directory.
            if os.path.basename(path) == "*":
                path = os.path.dirname(path)
            return super().ftp_LIST(path)

        def on_file_sent(self, file):
            log.write("SENT " + os.path.basename(file))

        def on_incomplete_file_sent(self, file):
            log.write("INCOMPLETE " + os.path.basename(file))

        def push_dtp_data(self, data, isproducer=False, file=None, cmd=None):
            if drop and cmd == "RETR" and isproducer:
                data = HalfFileProducer(file, self._current_type, self)
            return super().push_dtp_data(data, isproducer=isproducer, file=file, cmd=cmd)

    return Handler


def run_silent():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    held = []
    while True:
        conn, _ = listener.accept()
        held.append(conn)  # kept open, never written to


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=".")
    parser.add_argument("--mode", choices=("normal", "drop", "stall", "trickle", "silent"), default="normal")
    parser.add_argument("--password", default=PASSWORD, help="the password the server expects")
    parser.add_argument("--no-size", action="store_true", help="refuse SIZE: file sizes stay unknown")
    parser.add_argument("--passive", action="store_true", help="take PASV and EPSV too")
    args = parser.parse_args()

    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    exit_when_stdin_closes()
    if args.mode == "silent":
        run_silent()
        return

    log = Log()
    authorizer = DummyAuthorizer()
    authorizer.add_user(USER, args.password, os.path.abspath(args.root), perm="elr")
    handler = make_handler(log, args.mode == "drop", args.password, args.no_size, args.passive)
    handler.authorizer = authorizer
    handler.banner = "torvikel test EPO server"
    handler.permit_foreign_addresses = False
    handler.timeout = 60
    handler.auth_failed_timeout = 0.1  # answer a wrong password at once
    handler.use_sendfile = False  # every byte through the producers, so "drop" can cut in
    if args.mode == "trickle":
        handler.dtp_handler = MeteredDTP
    elif args.mode == "stall":
        handler.dtp_handler = type("StallDTP", (MeteredDTP,), {"half_first": True})
    config_logging(level=logging.CRITICAL)
    server = FTPServer(("127.0.0.1", 0), handler)
    print("PORT %d" % server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()
