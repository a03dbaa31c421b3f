"""Posting a review to GitHub against a hostile or broken service and event
file: no redirect is followed, the token is never sent in clear text to
another machine, one deadline bounds the exchange and every odd answer is a
one-line error."""
import http.server
import json
import os
import shutil
import socket
import ssl
import subprocess
import threading
import time

import pytest

from tessary import github

REVIEW = {"event": "COMMENT", "body": "tessary found 1 finding.", "comments": []}
SHA = "0123456789abcdef0123456789abcdef01234567"


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # the client hanging up on a long answer is what the tests want


class Handler(http.server.BaseHTTPRequestHandler):
    def answer(self):
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        self.server.seen.append((self.command, self.path, self.headers.get("Authorization"), body))
        self.server.respond(self)

    do_GET = do_POST = do_PUT = do_HEAD = answer

    def log_message(self, *args):
        pass


def short(value):
    """A test id for a parameter that may be megabytes long."""
    text = value.decode("latin-1") if isinstance(value, bytes) else str(value)
    return text if len(text) <= 30 else text[:20] + f"...({len(text)})"


def send(handler, status, data=b"", headers=()):
    handler.send_response(status)
    for name, value in headers:
        handler.send_header(name, value)
    handler.send_header("Content-Length", str(len(data)))
    handler.end_headers()
    handler.wfile.write(data)


@pytest.fixture
def serve():
    """serve(respond) starts a loopback service answering with respond(handler);
    with tls=context it speaks HTTPS."""
    servers, stopping = [], threading.Event()

    def start(respond, tls=None):
        server = Server(("127.0.0.1", 0), Handler)
        if tls:
            server.socket = tls.wrap_socket(server.socket, server_side=True)
        server.seen, server.respond, server.stopping = [], respond, stopping
        threading.Thread(target=server.serve_forever, args=(0.05,), daemon=True).start()
        servers.append(server)
        return server

    yield start
    stopping.set()
    for server in servers:
        server.shutdown()
        server.server_close()


@pytest.fixture
def env(tmp_path, monkeypatch):
    """A pull request workflow's environment; env(port) points it at a service."""
    event = tmp_path / "event.json"
    event.write_text(json.dumps({"pull_request": {"number": 7, "head": {"sha": SHA}}}))
    monkeypatch.setenv("GITHUB_TOKEN", "s3cret-t0ken")
    monkeypatch.setenv("GITHUB_REPOSITORY", "shop/book-shop.py")
    monkeypatch.setenv("GITHUB_EVENT_PATH", str(event))

    def point(server, path=""):
        monkeypatch.setenv("GITHUB_API_URL", f"http://127.0.0.1:{server.server_port}{path}")

    return point


def failure(deadline=5):
    """The PostError of post_review, checked to be one short line without the token."""
    with pytest.raises(github.PostError) as caught:
        github.post_review(REVIEW, deadline=deadline)
    message = str(caught.value)
    assert "\n" not in message and "\r" not in message and len(message) < 600
    assert "s3cret" not in message
    return message


@pytest.mark.parametrize("path", ["", "/", "/api/v3/"])
@pytest.mark.parametrize("status, answer, url", [
    (201, {"html_url": "https://github.example/r/1"}, "https://github.example/r/1"),
    (200, {"id": 3}, ""), (200, b"", "")])
def test_a_review_is_posted(serve, env, path, status, answer, url):
    server = serve(lambda h: send(h, status, answer if isinstance(answer, bytes) else json.dumps(answer).encode()))
    env(server, path)
    assert github.post_review(REVIEW, deadline=5) == url
    ((method, where, auth, body),) = server.seen
    assert method == "POST" and auth == "Bearer s3cret-t0ken"
    assert where == path.rstrip("/") + "/repos/shop/book-shop.py/pulls/7/reviews"
    assert json.loads(body) == dict(REVIEW, commit_id=SHA)


@pytest.mark.parametrize("status", [301, 302, 303, 307, 308])
def test_a_redirect_is_refused_and_the_token_stays_home(serve, env, status):
    target = serve(lambda h: send(h, 201, b'{"html_url": "https://evil.example/"}'))
    location = f"http://127.0.0.1:{target.server_port}/x"
    env(serve(lambda h: send(h, status, headers=[("Location", location)])))
    assert failure() == f"posting the review failed: HTTP {status} redirect to {location} refused"
    assert target.seen == []


def drip(handler, head):
    """Answer one byte at a time, each well within any socket timeout."""
    handler.wfile.write(head)
    for _ in range(40):
        if handler.server.stopping.wait(0.4):
            return
        handler.wfile.write(b"a")


@pytest.mark.parametrize("respond", [
    lambda h: drip(h, b"HTTP/1.1 201 Created\r\nX-Slow: "),
    lambda h: drip(h, b"HTTP/1.1 201 Created\r\nContent-Length: 1000\r\n\r\n"),
    lambda h: drip(h, b"HTTP/1.1 422 Unprocessable\r\nContent-Length: 1000\r\n\r\n"),
    lambda h: h.server.stopping.wait(20),
], ids=["headers", "body", "error-body", "silent"])
def test_one_deadline_bounds_the_whole_post(serve, env, respond):
    env(serve(respond))
    start = time.monotonic()
    assert failure(deadline=2) == "posting the review failed: no complete answer within 2 seconds"
    assert time.monotonic() - start < 4


@pytest.mark.parametrize("status, data, expected", [
    (201, b"[]", "not a JSON object"),
    (201, b"5", "not a JSON object"),
    (200, b"{", "not JSON"),
    (201, b'{"html_url": "\xff"}', "not UTF-8 text"),
    (201, b'{"html_url": 5}', "html_url that is not text"),
    (201, b"[" * 100_000, "not JSON"),
    (204, b"", "HTTP 204"),
    (202, b'{"html_url": "x"}', 'HTTP 202: {"html_url": "x"}'),
    (422, b'{"message": "Unprocessable", "errors": ["Line could not be resolved", {"code": "invalid"}]}',
     'HTTP 422: Unprocessable; Line could not be resolved; {"code": "invalid"}'),
    (422, b'{"message": 5}', 'HTTP 422: {"message": 5}'),
    (422, b"[]", "HTTP 422: []"),
    (422, b'{"errors": "x"}', 'HTTP 422: {"errors": "x"}'),
    (500, b"\xffbroken\n\n  down", "HTTP 500: \ufffdbroken down"),
    (403, b'{"message": "no\\u001b[31m red\\u202e \\n\\t here"}', "HTTP 403: no\\x1b[31m red\\u202e here"),
    (502, b"", "HTTP 502"),
], ids=lambda value: short(value))
def test_odd_answers_are_one_line_errors(serve, env, status, data, expected):
    env(serve(lambda h: send(h, status, data)))
    message = failure()
    assert message.startswith("posting the review failed: ") and message.endswith(expected)


@pytest.mark.parametrize("status, size, expected", [
    (500, 5_000_000, 'HTTP 500: {"message": "xxx'), (422, 200_000, "HTTP 422: xxx"),
    (201, 5_000_000, "the service's answer is larger than 1 MiB")])
def test_a_huge_answer_is_neither_read_whole_nor_printed(serve, env, status, size, expected):
    env(serve(lambda h: send(h, status, b'{"message": "' + b"x" * size + b'"}')))
    message = failure()
    assert len(message) < 400 and expected in message


@pytest.mark.parametrize("url", [
    "file:///etc/passwd", "ftp://127.0.0.1/", "http://example.com", "http://10.0.0.1:8080",
    "http://127.0.0.1.example.com", "http://localhost.example.com/", "gopher://localhost",
    "https://user:pw@api.github.com", "https://api.github.com/?x=1", "https://exa mple.com", "api.github.com"])
def test_the_token_goes_only_over_tls_or_to_loopback(env, monkeypatch, url):
    def no_connection(*args, **kwargs):
        raise AssertionError("connected although the address is refused")

    monkeypatch.setattr(socket, "getaddrinfo", no_connection)
    monkeypatch.setattr(socket, "create_connection", no_connection)
    monkeypatch.setenv("GITHUB_API_URL", url)
    assert failure().startswith("GITHUB_API_URL must")


@pytest.mark.parametrize("host", ["127.0.0.1", "localhost", "LOCALHOST"])
def test_plain_http_to_loopback_is_allowed(serve, env, monkeypatch, host):
    server = serve(lambda h: send(h, 201, b'{"html_url": "u"}'))
    monkeypatch.setenv("GITHUB_API_URL", f"http://{host}:{server.server_port}")
    assert github.post_review(REVIEW, deadline=5) == "u" and len(server.seen) == 1


@pytest.mark.parametrize("trusted", [True, False])
def test_https_is_allowed_and_its_certificate_checked(serve, env, monkeypatch, tmp_path, trusted):
    if not shutil.which("openssl"):
        pytest.skip("no openssl command to make a certificate with")
    cert, key = tmp_path / "cert.pem", tmp_path / "key.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-days", "1", "-subj", "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1",
                    "-keyout", key, "-out", cert], check=True, capture_output=True, timeout=30)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server = serve(lambda h: send(h, 201, b'{"html_url": "u"}'), tls=context)
    monkeypatch.setenv("GITHUB_API_URL", f"https://127.0.0.1:{server.server_port}")
    if trusted:
        monkeypatch.setenv("SSL_CERT_FILE", str(cert))
        assert github.post_review(REVIEW, deadline=5) == "u"
        assert [auth for _, _, auth, _ in server.seen] == ["Bearer s3cret-t0ken"]
    else:
        assert "CERTIFICATE_VERIFY_FAILED" in failure() and server.seen == []


@pytest.mark.parametrize("name, value", [
    ("GITHUB_REPOSITORY", "shop"), ("GITHUB_REPOSITORY", "shop/book/x"), ("GITHUB_REPOSITORY", "../x"),
    ("GITHUB_REPOSITORY", "shop/.."), ("GITHUB_REPOSITORY", "shop/b?x=1"), ("GITHUB_REPOSITORY", "a b/c"),
    ("GITHUB_TOKEN", "s3cret\r\nX-Evil: 1"), ("GITHUB_TOKEN", ""), ("GITHUB_REPOSITORY", "")])
def test_the_environment_is_checked(env, name, value, monkeypatch):
    monkeypatch.setenv(name, value)
    assert name in failure()


def promptly(call):
    """call()'s PostError message; a call that blocks fails the test instead of hanging it."""
    outcome = []

    def attempt():
        try:
            call()
        except github.PostError as error:
            outcome.append(str(error))

    thread = threading.Thread(target=attempt, daemon=True)
    thread.start()
    thread.join(5)
    assert not thread.is_alive(), "reading the event file blocked"
    assert outcome, "an odd event file was accepted"
    return outcome[0]


@pytest.mark.parametrize("content, expected", [
    (b"{", "not JSON"), (b"\xff{}", "not UTF-8"), (b"[" * 100_000, "not JSON"), (b"[]", "not a JSON object"),
    (b'{"pull_request": []}', "pull_request is not a JSON object"), (b"{}", "not a pull request"),
    (b'{"pull_request": {"number": "7"}}', "positive whole number"),
    (b'{"pull_request": {"number": true}}', "positive whole number"),
    (b'{"number": 0}', "positive whole number"), (b'{"number": -3}', "positive whole number"),
    (b'{"number": 7.0}', "positive whole number"),
    (b'{"number": 7, "pull_request": {"head": "main"}}', "head is not a JSON object"),
    (b'{"number": 7, "pull_request": {"head": {"sha": "main; rm"}}}', "not a commit name"),
    (b'{"number": 7, "pull_request": {"head": {"sha": 5}}}', "not a commit name"),
    (b" " * (4 << 20) + b"{}", "larger than 4 MiB"),
], ids=lambda value: short(value))
def test_odd_event_files_are_one_line_errors(tmp_path, monkeypatch, content, expected):
    (tmp_path / "event.json").write_bytes(content)
    monkeypatch.setenv("GITHUB_EVENT_PATH", str(tmp_path / "event.json"))
    message = promptly(github.pull_request_event)
    assert "\n" not in message and expected in message


@pytest.mark.parametrize("kind", ["fifo", "device", "directory", "missing"])
def test_an_event_path_that_is_no_file_is_refused_without_waiting(tmp_path, monkeypatch, kind):
    path = tmp_path / "event.json"
    if kind == "fifo":
        os.mkfifo(path)
    elif kind == "device":
        path.symlink_to("/dev/zero")
    elif kind == "directory":
        path.mkdir()
    monkeypatch.setenv("GITHUB_EVENT_PATH", str(path))
    try:
        message = promptly(github.pull_request_event)
    finally:
        if kind == "fifo":  # a reader stuck in open() gets its writer and ends
            try:
                os.close(os.open(path, os.O_WRONLY | os.O_NONBLOCK))
            except OSError:
                pass
    assert message.startswith("GITHUB_EVENT_PATH: ")
    assert ("No such file" if kind == "missing" else "not a regular file") in message


def test_an_event_symlink_to_a_file_is_followed(tmp_path, monkeypatch):
    (tmp_path / "real.json").write_text('{"number": 12, "pull_request": {"head": {"sha": "%s"}}}' % SHA)
    (tmp_path / "event.json").symlink_to(tmp_path / "real.json")
    monkeypatch.setenv("GITHUB_EVENT_PATH", str(tmp_path / "event.json"))
    assert github.pull_request_event() == (12, SHA)
