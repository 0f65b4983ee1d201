#!/usr/bin/env python3
"""A local stand-in for the provider's account service.

Serves XML-RPC over HTTPS on a loopback port and answers "debug.get_api_version",
"sync.get_ftp_data" and "sync.create_account" in compact one-line XML in the Windows code page,
as the provider's service does. Customers and their sync accounts live in a small JSON file,
which is read again for every request, so a test or a demo can change it while the service runs.
Every raw request is stored as one file for byte-level checks.

Standard library only; the certificate is made with the openssl command when none is given.
"""

import argparse
import json
import os
import secrets
import socket
import socketserver
import ssl
import string
import subprocess
import sys
import tempfile
import threading
import time
import xml.etree.ElementTree as ET

DEFAULT_API_LOGIN = "10000.sync"
DEFAULT_API_PASSWORD = "HbqnRtWm8yJd"

# Fault codes of the service.
FAULT_API_LOGIN = "1001"
FAULT_NO_CUSTOMER = "1002"
FAULT_BAD_PASSWORD = "1003"
FAULT_NOT_READY = "1004"
FAULT_CLIENT_TOO_OLD = "1005"
FAULT_NO_SYNC_ACCOUNT = "1006"
FAULT_MISSING_DATA = "1007"
FAULT_PARSE = "-32700"
FAULT_NO_METHOD = "-32601"


def make_certificate(folder):
    """A self-signed certificate for localhost, 127.0.0.1 and ::1."""
    cert = os.path.join(folder, "cert.pem")
    key = os.path.join(folder, "key.pem")
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
         "-nodes", "-keyout", key, "-out", cert, "-days", "30", "-subj", "/CN=localhost",
         "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1"],
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


def xml_text(value):
    """Escapes a value and makes it representable in the Windows code page."""
    value = value.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
    return value.encode("cp1252", "xmlcharrefreplace").decode("cp1252")


def member(name, value, kind="string"):
    return "<member><name>%s</name><value><%s>%s</%s></value></member>" % (
        name, kind, xml_text(str(value)), kind)


def success(members):
    return ('<?xml version="1.0" encoding="windows-1252"?><methodResponse><params><param>'
            "<value><struct>" + "".join(member(n, v) for n, v in members) +
            "</struct></value></param></params></methodResponse>")


def fault(code, text):
    return ('<?xml version="1.0" encoding="windows-1252"?><methodResponse><fault><value><struct>' +
            member("faultCode", code, "i4") + member("faultString", text) +
            "</struct></value></fault></methodResponse>")


def parse_call(body):
    """Method name and struct members (name -> text) of an XML-RPC call."""
    root = ET.fromstring(body)
    method = root.findtext("methodName") or ""
    members = {}
    for m in root.iter("member"):
        name = m.findtext("name") or ""
        value = m.find("value")
        text = ""
        if value is not None:
            typed = list(value)
            text = (typed[0].text if typed else value.text) or ""
        members[name] = text
    return method, members


class Store:
    """The JSON file of customers and control settings, shared by all connections."""

    def __init__(self, path, ready_delay, ftp_host):
        self.path = path
        self.ready_delay = ready_delay
        self.ftp_host = ftp_host
        self.lock = threading.Lock()
        if not os.path.exists(path):
            self.save({"customers": [], "control": {}})

    def load(self):
        with open(self.path, encoding="utf-8") as f:
            data = json.load(f)
        data.setdefault("customers", [])
        data.setdefault("control", {})
        return data

    def save(self, data):
        tmp = self.path + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(data, f, indent=2)
        os.replace(tmp, self.path)


def find_customer(data, email):
    for c in data["customers"]:
        if c.get("email", "").lower() == email.lower():
            return c
    return None


def next_ord_no(data):
    numbers = [int(a["ord_no"]) for c in data["customers"] for a in c.get("accounts", [])
               if str(a.get("ord_no", "")).isdigit()]
    return str(max(numbers, default=100000) + 1)


def answer(store, method, members):
    """The XML answer to one call."""
    with store.lock:
        data = store.load()
        control = data["control"]
        forced = control.get("raw_body", {}).get(method)
        if forced is not None:
            return forced
        code = control.get("fault", {}).get(method, control.get("fault", {}).get("*"))
        if code is not None:
            return fault(str(code), "fault requested by the test set-up")

        api_login = control.get("api_login", DEFAULT_API_LOGIN)
        api_password = control.get("api_password", DEFAULT_API_PASSWORD)
        if members.get("login") != api_login or members.get("password") != api_password:
            return fault(FAULT_API_LOGIN, "api login failed")

        if method == "debug.get_api_version":
            return success([("status", "100"), ("version", "1.0")])

        if method == "sync.get_ftp_data":
            try:
                version = int(members.get("sync_client_version", "0"))
            except ValueError:
                version = 0
            if version < int(control.get("min_client_version", 50)):
                return fault(FAULT_CLIENT_TOO_OLD, "client too old")
            customer = find_customer(data, members.get("customer_username", ""))
            if customer is None:
                return fault(FAULT_NO_CUSTOMER, "customer not found")
            if customer.get("disabled") or customer.get("password") != members.get(
                    "customer_password"):
                return fault(FAULT_BAD_PASSWORD, "password wrong or account disabled")
            accounts = customer.get("accounts", [])
            if not accounts:
                return fault(FAULT_NO_SYNC_ACCOUNT, "no sync account")
            now = time.time()
            ready = [a for a in accounts if float(a.get("ready_at", 0)) <= now]
            if not ready:
                return fault(FAULT_NOT_READY, "sync account in preparation")
            result = [("status", "100")]
            for i, a in enumerate(ready):
                result += [("sync_ord_no%d" % i, a.get("ord_no", "")),
                           ("snyc_server_type%d" % i, a.get("server_type", "ftp")),
                           ("sync_server_host%d" % i, a.get("host", "")),
                           ("sync_server_user%d" % i, a.get("user", "")),
                           ("sync_server_password%d" % i, a.get("password", ""))]
            return success(result)

        if method == "sync.create_account":
            email = members.get("customer_email", "")
            password = members.get("customer_password", "")
            if not email or not password:
                return fault(FAULT_MISSING_DATA, "e-mail address and password are needed")
            customer = find_customer(data, email)
            if customer is None:
                customer = {"email": email, "password": password,
                            "firstname": members.get("customer_firstname", ""),
                            "lastname": members.get("customer_lastname", ""),
                            "att": members.get("customer_att", ""), "accounts": []}
                data["customers"].append(customer)
            elif customer.get("disabled") or customer.get("password") != password:
                return fault(FAULT_BAD_PASSWORD, "password wrong or account disabled")
            ord_no = next_ord_no(data)
            delay = float(control.get("ready_delay", store.ready_delay))
            customer.setdefault("accounts", []).append({
                "ord_no": ord_no, "server_type": "ftp", "host": store.ftp_host,
                "user": "sync" + ord_no,
                "password": "".join(secrets.choice(string.ascii_letters + string.digits)
                                    for _ in range(12)),
                "ready_at": time.time() + delay})
            store.save(data)
            return success([("status", "100"), ("sync_ord_no", ord_no)])

        return fault(FAULT_NO_METHOD, "unknown method " + method)


def http_reply(body, framing, trailing_crlf):
    """The HTTP answer bytes for an XML body, framed as the control settings ask."""
    payload = body.encode("cp1252", "xmlcharrefreplace")
    if trailing_crlf:
        payload += b"\r\n"
    head = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nServer: account-service stand-in\r\n"
    if framing == "chunked":
        pieces = [payload[i:i + 64] for i in range(0, len(payload), 64)]
        chunks = b"".join(b"%x\r\n%s\r\n" % (len(p), p) for p in pieces) + b"0\r\n\r\n"
        return (head + "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n").encode() + chunks
    if framing == "close":
        return (head + "Connection: close\r\n\r\n").encode() + payload
    if framing == "keep-alive":
        return (head + "Content-Length: %d\r\n\r\n" % len(payload)).encode() + payload
    return (head + "Content-Length: %d\r\nConnection: close\r\n\r\n" % len(payload)).encode() + payload


def read_request(conn):
    """The raw bytes of one HTTP request: the head and a body of Content-Length bytes."""
    data = b""
    while b"\r\n\r\n" not in data:
        piece = conn.recv(65536)
        if not piece:
            return data
        data += piece
        if len(data) > 1 << 20:
            return data
    head, _, body = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            try:
                length = min(int(value.strip() or b"0"), 1 << 20)
            except ValueError:
                length = 0
    while len(body) < length:
        piece = conn.recv(65536)
        if not piece:
            break
        body += piece
    return head + b"\r\n\r\n" + body


def wait_for_close(conn, limit):
    """Holds a connection open, answering nothing, until the client closes it or limit passes."""
    end = time.time() + limit
    conn.settimeout(0.5)
    while time.time() < end:
        try:
            if not conn.recv(4096):
                return
        except socket.timeout:
            continue
        except OSError:
            return


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        server = self.server
        control = server.store.load()["control"]
        raw = self.request
        raw.settimeout(30)
        if control.get("hang") == "tls":
            wait_for_close(raw, 120)
            return
        try:
            conn = server.tls.wrap_socket(raw, server_side=True)
        except (ssl.SSLError, OSError):
            return
        try:
            request = read_request(conn)
            server.record(request)
            if control.get("hang") == "http":
                wait_for_close(conn, 120)
                return
            body = request.partition(b"\r\n\r\n")[2]
            try:
                method, members = parse_call(body.decode("utf-8"))
                xml = answer(server.store, method, members)
            except (ET.ParseError, UnicodeDecodeError) as e:
                xml = fault(FAULT_PARSE, "parse error: %s" % e)
            framing = control.get("framing", "length")
            conn.sendall(http_reply(xml, framing, control.get("trailing_crlf", False)))
            if framing == "keep-alive":
                wait_for_close(conn, 120)
            else:
                try:
                    conn.unwrap()
                except (ssl.SSLError, OSError):
                    pass
        except (ssl.SSLError, OSError):
            pass
        finally:
            conn.close()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, store, tls, requests_dir):
        self.address_family = socket.AF_INET6 if ":" in address[0] else socket.AF_INET
        super().__init__(address, Handler)
        self.store = store
        self.tls = tls
        self.requests_dir = requests_dir
        self.sequence = 0
        self.sequence_lock = threading.Lock()

    def record(self, request):
        with self.sequence_lock:
            self.sequence += 1
            name = "%06d.bin" % self.sequence
        path = os.path.join(self.requests_dir, name)
        with open(path + ".tmp", "wb") as f:
            f.write(request)
        os.replace(path + ".tmp", path)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--host", default="127.0.0.1", help="loopback address to listen on")
    p.add_argument("--port", type=int, default=8443, help="port; 0 picks a free one")
    p.add_argument("--state-dir", help="folder for the data file, certificate and requests "
                   "(default: a new temporary folder)")
    p.add_argument("--data", help="JSON file of customers and control settings "
                   "(default: STATE/accounts.json, created when missing)")
    p.add_argument("--cert", help="PEM certificate (default: a self-signed one made at start)")
    p.add_argument("--key", help="PEM private key of --cert")
    p.add_argument("--ready-delay", type=float, default=60.0,
                   help="seconds until a newly created sync account is ready")
    p.add_argument("--ftp-host", default="127.0.0.1",
                   help="FTP host reported for newly created sync accounts")
    args = p.parse_args()

    if args.host not in ("127.0.0.1", "::1", "localhost") and not args.host.startswith("127."):
        p.error("the stand-in listens on loopback addresses only")
    state = args.state_dir or tempfile.mkdtemp(prefix="account-service-")
    os.makedirs(state, exist_ok=True)
    requests_dir = os.path.join(state, "requests")
    os.makedirs(requests_dir, exist_ok=True)
    cert, key = args.cert, args.key
    if not cert:
        cert, key = make_certificate(state)
    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls.load_cert_chain(cert, key)
    store = Store(args.data or os.path.join(state, "accounts.json"), args.ready_delay,
                  args.ftp_host)
    server = Server((args.host, args.port), store, tls, requests_dir)
    port = server.server_address[1]
    print("listening on %s port %d" % (args.host, port), flush=True)
    print("certificate %s" % cert, flush=True)
    print("data %s" % store.path, flush=True)
    print("requests %s" % requests_dir, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    sys.exit(main())
