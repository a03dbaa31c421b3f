"""Posting a review to a pull request from a GitHub Actions run.

Everything this module reads comes from outside: the workflow's event file,
the environment and the answer of a web service that may be misconfigured or
hostile. It therefore never follows a redirect (the token would travel with
it), sends the token only over TLS or to this machine's loopback, gives the
whole exchange one deadline, caps every size it reads, and turns every
surprise into a one-line PostError."""
import http.client
import ipaddress
import json
import os
import re
import socket
import stat
import threading
import time
import urllib.error
import urllib.parse
import urllib.request

import tessary
from tessary import terminal

DEADLINE_SECONDS = 60
ANSWER_CAP = 1 << 20  # bytes of an answer of the service
EVENT_CAP = 4 << 20  # bytes of the workflow's event file
MESSAGE_CHARS = 300  # characters of the service's own words in an error line
CHUNK = 64 * 1024

REPOSITORY_PART = re.compile(r"[A-Za-z0-9_.-]+")
TOKEN = re.compile(r"[\x21-\x7e]+")
HOST_NAME = re.compile(r"[a-z0-9.-]+")
BASE_PATH = re.compile(r"[A-Za-z0-9._~!$&'()*+,;=:@%/-]*")
# A commit name: full SHA-1 or SHA-256 names, and the abbreviations git prints.
COMMIT = re.compile(r"[0-9a-f]{4,64}")


class PostError(Exception):
    """Posting the review is impossible or failed; the text is one line."""


class TooLarge(Exception):
    """An answer of the service is larger than ANSWER_CAP; args[0] is its start."""


def printable(text, limit=MESSAGE_CHARS):
    """`text` folded onto one line, with what could steer a terminal escaped,
    cut to about `limit` characters."""
    text = terminal.printable(" ".join(str(text).split()))
    return text if len(text) <= limit else text[:limit] + "..."


# --------------------------------------------------------------------------
# The workflow's event


def read_capped(path, cap, what):
    """The bytes of the regular file at `path` (links resolved). Opening does
    not wait (a FIFO without a writer) and a device is never read."""
    flags = os.O_RDONLY | getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_NOCTTY", 0) | getattr(os, "O_BINARY", 0)
    try:
        descriptor = os.open(path, flags)
    except OSError as error:
        raise PostError(f"{what}: {printable(error)}") from None
    try:
        if not stat.S_ISREG(os.fstat(descriptor).st_mode):
            raise PostError(f"{what}: {printable(path)} is not a regular file")
        data = bytearray()
        while len(data) <= cap:
            chunk = os.read(descriptor, min(CHUNK, cap + 1 - len(data)))
            if not chunk:
                break
            data += chunk
    except OSError as error:
        raise PostError(f"{what}: {printable(error)}") from None
    finally:
        os.close(descriptor)
    if len(data) > cap:
        raise PostError(f"{what}: {printable(path)} is larger than {cap >> 20} MiB")
    return bytes(data)


def pull_request_event():
    """(number, head commit or None) of the pull request the workflow runs for."""
    path = os.environ.get("GITHUB_EVENT_PATH")
    if not path:
        raise PostError("--post needs GITHUB_EVENT_PATH (it runs in a GitHub Actions pull_request workflow)")
    data = read_capped(path, EVENT_CAP, "GITHUB_EVENT_PATH")
    try:
        event = json.loads(data.decode("utf-8"))
    except UnicodeDecodeError:
        raise PostError("GITHUB_EVENT_PATH: the event is not UTF-8 text") from None
    except (ValueError, RecursionError) as error:
        raise PostError(f"GITHUB_EVENT_PATH: the event is not JSON: {printable(error)}") from None
    if not isinstance(event, dict):
        raise PostError("GITHUB_EVENT_PATH: the event is not a JSON object")
    pull = event.get("pull_request")
    if pull is None:
        pull = {}
    if not isinstance(pull, dict):
        raise PostError("GITHUB_EVENT_PATH: the event's pull_request is not a JSON object")
    number = pull.get("number")
    if number is None:
        number = event.get("number")
    if number is None:
        raise PostError("the workflow's event is not a pull request: there is nothing to review")
    if type(number) is not int or number < 1:
        raise PostError("GITHUB_EVENT_PATH: the pull request's number is not a positive whole number")
    head = pull.get("head")
    if head is None:
        return number, None
    if not isinstance(head, dict):
        raise PostError("GITHUB_EVENT_PATH: the pull request's head is not a JSON object")
    sha = head.get("sha")
    if sha is not None and not (isinstance(sha, str) and COMMIT.fullmatch(sha)):
        raise PostError("GITHUB_EVENT_PATH: the pull request's head sha is not a commit name")
    return number, sha


# --------------------------------------------------------------------------
# Where the review goes


def is_loopback(host):
    if host == "localhost":
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


def api_address(url):
    """(scheme, netloc, base path, whether on loopback) of the service at
    `url`: https://, or http:// to this machine's loopback, where the token
    cannot be overheard."""
    refused = ("GITHUB_API_URL must be an https:// address (or http:// to 127.0.0.1, ::1 or localhost), "
               f"not {printable(url, 200)!r}")
    try:
        parts = urllib.parse.urlsplit(url)
        parts.port  # a port that is not a number raises here
    except ValueError:
        raise PostError(refused) from None
    if "@" in parts.netloc:
        raise PostError("GITHUB_API_URL must not hold a user name or password")
    host = parts.hostname or ""
    try:
        ipaddress.ip_address(host)
    except ValueError:
        if not HOST_NAME.fullmatch(host):
            raise PostError(refused) from None
    scheme = parts.scheme.lower()
    if (scheme != "https" and not (scheme == "http" and is_loopback(host))) \
            or parts.query or parts.fragment or not BASE_PATH.fullmatch(parts.path):
        raise PostError(refused)
    return scheme, parts.netloc, parts.path.rstrip("/"), is_loopback(host)


def settings():
    token = os.environ.get("GITHUB_TOKEN")
    repository = os.environ.get("GITHUB_REPOSITORY")
    if not token or not repository:
        raise PostError("--post needs GITHUB_TOKEN and GITHUB_REPOSITORY")
    if not TOKEN.fullmatch(token):
        raise PostError("GITHUB_TOKEN holds characters no token has (a space, a line break, ...)")
    parts = repository.split("/")
    if len(parts) != 2 or not all(REPOSITORY_PART.fullmatch(p) and p.strip(".") for p in parts):
        raise PostError(f"GITHUB_REPOSITORY must be owner/name, not {printable(repository, 200)!r}")
    return token, repository, api_address(os.environ.get("GITHUB_API_URL", "https://api.github.com"))


# --------------------------------------------------------------------------
# The exchange with the service


class Watchdog:
    """Shuts the connection down when the deadline passes, whatever waits on
    it then: the TLS handshake, the request, the headers of the answer or its
    body. Socket timeouts alone cannot do this: every byte restarts them."""

    def __init__(self, seconds):
        self.end = time.monotonic() + seconds
        self.lock = threading.Lock()
        self.watched = None  # a duplicate of the connection's socket
        self.current = None  # the socket the answer is read from
        self.fired = False
        self.timer = threading.Timer(seconds, self.fire)
        self.timer.daemon = True
        self.timer.start()

    def left(self):
        return self.end - time.monotonic()

    def fire(self):
        with self.lock:
            self.fired = True
            if self.watched is not None:
                try:
                    self.watched.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

    def watch(self, sock):
        with self.lock:
            if self.fired:
                sock.close()
                raise TimeoutError("deadline passed")
            self.watched = sock.dup()

    def stop(self):
        self.timer.cancel()
        with self.lock:
            if self.watched is not None:
                self.watched.close()
                self.watched = None

    def connect(self, address, loopback_only):
        """A socket connected to `address` within the time left; only to a
        loopback address when `loopback_only`."""
        host, port = address[:2]
        error = OSError(f"{host} has no loopback address" if loopback_only else f"cannot resolve {host}")
        for family, kind, proto, _, where in socket.getaddrinfo(host, port, 0, socket.SOCK_STREAM):
            if loopback_only and not is_loopback(where[0].split("%")[0]):
                continue
            if self.left() <= 0:
                raise TimeoutError("deadline passed")
            sock = socket.socket(family, kind, proto)
            try:
                sock.settimeout(self.left())
                sock.connect(where)
            except OSError as failure:
                sock.close()
                error = failure
                continue
            self.watch(sock)
            return sock
        raise error


def connection_class(base, watchdog, loopback_only):
    class Connection(base):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, **kwargs)
            self._create_connection = lambda address, *rest: watchdog.connect(address, loopback_only)

        def connect(self):
            super().connect()
            watchdog.current = self.sock

    return Connection


class RefuseRedirects(urllib.request.HTTPRedirectHandler):
    """A redirect comes back as an HTTPError: the token never goes elsewhere."""

    def redirect_request(self, *args, **kwargs):
        return None


def opener(watchdog, loopback):
    class Plain(urllib.request.HTTPHandler):
        def http_open(self, request):
            return self.do_open(connection_class(http.client.HTTPConnection, watchdog, True), request)

    class Secure(urllib.request.HTTPSHandler):
        def https_open(self, request):
            return self.do_open(connection_class(http.client.HTTPSConnection, watchdog, False), request,
                                context=self._context)

    # A proxy cannot reach this machine's loopback; elsewhere the runner's proxy settings hold.
    proxies = urllib.request.ProxyHandler({} if loopback else None)
    return urllib.request.build_opener(proxies, RefuseRedirects, Plain, Secure)


def read_answer(response, watchdog):
    """The body of `response`, read in chunks against the deadline."""
    data = bytearray()
    while True:
        left = watchdog.left()
        if left <= 0 or watchdog.fired:
            raise TimeoutError("deadline passed")
        if watchdog.current is not None:
            watchdog.current.settimeout(left)
        chunk = response.read1(CHUNK)
        if not chunk:
            break
        data += chunk
        if len(data) > ANSWER_CAP:
            raise TooLarge(bytes(data[:ANSWER_CAP]))
    if watchdog.fired:  # the shutdown ends the body early
        raise TimeoutError("deadline passed")
    return bytes(data)


def service_message(data):
    """What an error answer says, short: GitHub's message and errors, or the
    start of whatever else it is."""
    try:
        answer = json.loads(data.decode("utf-8"))
    except (ValueError, RecursionError):
        answer = None
    if isinstance(answer, dict) and isinstance(answer.get("message"), str) \
            and isinstance(answer.get("errors", []), list):
        text = answer["message"] + "".join(
            f"; {e}" if isinstance(e, str) else f"; {json.dumps(e)}" for e in answer.get("errors", []))
    else:
        text = data[:MESSAGE_CHARS * 4].decode("utf-8", "replace")
    return printable(text)


def exchange(request, watchdog, loopback):
    """(status, headers, body) of the service's answer to `request`."""
    try:
        response = opener(watchdog, loopback).open(request, timeout=max(watchdog.left(), 0.001))
    except urllib.error.HTTPError as error:
        response = error.fp
        if response is None:
            return error.code, error.headers, b""
        with response:
            if 300 <= error.code < 400:
                return error.code, error.headers, b""
            try:
                return error.code, error.headers, read_answer(response, watchdog)
            except TooLarge as large:
                return error.code, error.headers, large.args[0]
    with response:
        return response.status, response.headers, read_answer(response, watchdog)


def post_review(review, deadline=None):
    """POST the review to the workflow's pull request; returns its web
    address ("" when the service gives none)."""
    deadline = DEADLINE_SECONDS if deadline is None else deadline
    token, repository, (scheme, netloc, base, loopback) = settings()
    number, head = pull_request_event()
    body = dict(review, commit_id=head) if head else review
    request = urllib.request.Request(
        f"{scheme}://{netloc}{base}/repos/{repository}/pulls/{number}/reviews",
        data=json.dumps(body).encode("utf-8"), method="POST",
        headers={
            "Authorization": f"Bearer {token}", "Accept": "application/vnd.github+json",
            "X-GitHub-Api-Version": "2022-11-28", "Content-Type": "application/json",
            "User-Agent": f"tessary/{tessary.__version__}",
        },
    )
    failed = "posting the review failed"
    watchdog = Watchdog(deadline)
    try:
        status, headers, data = exchange(request, watchdog, loopback)
    except TooLarge:
        raise PostError(f"{failed}: the service's answer is larger than {ANSWER_CAP >> 20} MiB") from None
    except (urllib.error.URLError, OSError, http.client.HTTPException, ValueError) as error:
        if watchdog.fired or watchdog.left() <= 0:
            raise PostError(f"{failed}: no complete answer within {deadline:g} seconds") from None
        reason = getattr(error, "reason", None) or error
        raise PostError(f"{failed}: {printable(reason) or type(error).__name__}") from None
    finally:
        watchdog.stop()

    if 300 <= status < 400:
        location = headers.get("Location") if headers else None
        target = f" to {printable(location, 200)}" if location else ""
        raise PostError(f"{failed}: HTTP {status} redirect{target} refused")
    if status not in (200, 201):
        message = service_message(data)
        raise PostError(f"{failed}: HTTP {status}" + (f": {message}" if message else ""))
    if not data.strip():
        return ""
    try:
        answer = json.loads(data.decode("utf-8"))
    except UnicodeDecodeError:
        raise PostError(f"{failed}: the service's answer is not UTF-8 text") from None
    except (ValueError, RecursionError):
        raise PostError(f"{failed}: the service's answer is not JSON") from None
    if not isinstance(answer, dict):
        raise PostError(f"{failed}: the service's answer is not a JSON object")
    url = answer.get("html_url", "")
    if not isinstance(url, str):
        raise PostError(f"{failed}: the service's answer has an html_url that is not text")
    return printable(url, 2000)
