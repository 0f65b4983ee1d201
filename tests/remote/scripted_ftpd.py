"""A scriptable FTP server for the remote-operation tests.

Serves one user on a folder and, driven by a JSON rules file that the tests rewrite between
steps, drops the control connection at a chosen command or after the Nth command, answers a
chosen command with a chosen reply (or never), and answers "site quota" with chosen lines. Every command
line received is appended to a transcript file. Listens on 127.0.0.1 only; prints
"PORT <n>" on stdout once it accepts connections.

Rules file: {"generation": G, "script": {"rules": [{"cmd": "MKD", "action": "drop"|"reply"|"ignore", "reply": "550 x",
                        "skip": 0, "times": 3}],
             "drop_after": N, "quota": ["211-...", "211 ..."]}}
Each write carries a new generation, so that rewriting the same script resets the counters.
"arg" limits a rule to command lines that contain it; "skip" lets the first matches through; "times" limits how often the rule fires (default:
always). "drop_after" drops the connection at the Nth command counted over all connections.
"""

import argparse
import json
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class Script:
    def __init__(self, path):
        self.path = path
        self.text = None
        self.data = {}
        self.hits = {}
        self.commands = 0

    def reload(self):
        try:
            with open(self.path, encoding="utf-8") as f:
                text = f.read()
        except OSError:
            text = "{}"
        if text != self.text:
            self.text = text
            self.data = json.loads(text or "{}").get("script", {})
            self.hits = {}
            self.commands = 0
        return self.data


class ScriptedHandler(FTPHandler):
    script = None
    transcript = None

    def pre_process_command(self, line, cmd, arg):
        with open(self.transcript, "a", encoding="utf-8", errors="replace") as f:
            f.write(line + "\n")
        data = self.script.reload()
        self.script.commands += 1
        drop_after = data.get("drop_after")
        if drop_after and self.script.commands >= drop_after:
            self.script.commands = 0
            self.close()
            return
        verb = line.split(" ", 1)[0].upper()
        for index, rule in enumerate(data.get("rules", [])):
            if rule.get("cmd", "").upper() != verb:
                continue
            if rule.get("arg") and rule["arg"] not in line:
                continue
            seen = self.script.hits.get(index, 0)
            self.script.hits[index] = seen + 1
            skip = rule.get("skip", 0)
            times = rule.get("times")
            if seen < skip or (times is not None and seen >= skip + times):
                continue
            if rule.get("action") == "drop":
                self.close()
                return
            if rule.get("action") == "ignore":
                return
            if rule.get("action") == "reply":
                self.respond(rule["reply"])
                return
        if line.lower().startswith("site quota"):
            lines = data.get("quota")
            if not lines:
                self.respond("500 'SITE QUOTA' not understood.")
                return
            self.push("".join(l + "\r\n" for l in lines))
            return
        super().pre_process_command(line, cmd, arg)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--root", required=True)
    p.add_argument("--user", required=True)
    p.add_argument("--password", required=True)
    p.add_argument("--rules", required=True)
    p.add_argument("--transcript", required=True)
    a = p.parse_args()

    authorizer = DummyAuthorizer()
    authorizer.add_user(a.user, a.password, a.root, perm="elradfmwMT")
    ScriptedHandler.authorizer = authorizer
    ScriptedHandler.script = Script(a.rules)
    ScriptedHandler.transcript = a.transcript
    ScriptedHandler.banner = "scripted test server ready"
    ScriptedHandler.permit_foreign_addresses = False
    ScriptedHandler.auth_failed_timeout = 0
    server = FTPServer(("127.0.0.1", 0), ScriptedHandler)
    server.max_cons = 64
    print("PORT %d" % server.socket.getsockname()[1], flush=True)
    try:
        server.serve_forever(handle_exit=True)
    finally:
        server.close_all()


if __name__ == "__main__":
    sys.exit(main())
