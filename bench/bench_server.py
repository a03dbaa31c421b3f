"""Latency and memory of `tessary server`, beside a cold `tessary check`
of the same file in the same run.

For the demo's catalog/models.py and for the app0/models.py of a synthetic
project of about 500 modules: the seconds the server takes to initialize
(it lints a small model module then, to build Django's modules), the
seconds from opening the file to its first diagnostics (against the cold
check of that file), then the median
and the slowest of the seconds from a change notification to the
diagnostics of that version, over --edits edits. Then the server's
resident memory after the first and after --cycles edit-and-save cycles of
one module.

    python bench/bench_server.py [--edits N] [--cycles N]
"""
import argparse
import asyncio
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from lsprotocol import types as lsp
from pytest_lsp import client_capabilities
from pytest_lsp.client import make_test_lsp_client

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
from bench_check import synthetic_project  # noqa: E402

DEMO = HERE.parent / "examples" / "bookshop"
TESSARY = str(pathlib.Path(sys.executable).with_name("tessary"))


def cold_check(root, relative):
    started = time.perf_counter()
    subprocess.run([TESSARY, "check", "--no-cache", "--jobs", "1", relative], cwd=root,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - started


def resident_mib(pid):
    for line in pathlib.Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1]) / 1024
    return 0.0


class Session:
    def __init__(self, client):
        self.client = client
        self.published = {}  # (uri, version) -> when
        self.waiters = {}

        original = client.protocol.fm.features[lsp.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS]

        def on_publish(params):
            original(params)
            key = (params.uri, params.version)
            self.published[key] = time.perf_counter()
            waiter = self.waiters.pop(key, None)
            if waiter and not waiter.done():
                waiter.set_result(None)

        client.protocol.fm.features[lsp.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS] = on_publish

    async def published_for(self, uri, version, timeout=60):
        if (uri, version) not in self.published:
            waiter = asyncio.get_running_loop().create_future()
            self.waiters[(uri, version)] = waiter
            await asyncio.wait_for(waiter, timeout)
        return self.published[(uri, version)]


async def measure(root, relative, edits, cycles):
    path = root / relative
    uri = path.resolve().as_uri()
    text = path.read_text()
    client = make_test_lsp_client()
    await client.start_io(TESSARY, "server")
    session = Session(client)
    starting = time.perf_counter()
    await client.initialize_session(lsp.InitializeParams(capabilities=client_capabilities("visual-studio-code"),
                                                         root_uri=root.resolve().as_uri()))
    started = time.perf_counter()
    initialize = started - starting
    client.text_document_did_open(lsp.DidOpenTextDocumentParams(text_document=lsp.TextDocumentItem(
        uri=uri, language_id="python", version=1, text=text)))
    first = await session.published_for(uri, 1) - started
    latencies = []
    version = 1
    for n in range(edits):
        version += 1
        edited = text + f"\n# edit {n}\n"
        sent = time.perf_counter()
        client.text_document_did_change(lsp.DidChangeTextDocumentParams(
            text_document=lsp.VersionedTextDocumentIdentifier(uri=uri, version=version),
            content_changes=[lsp.TextDocumentContentChangeWholeDocument(text=edited)]))
        latencies.append(await session.published_for(uri, version) - sent)
    pid = client._server.pid
    memory = []
    if cycles:
        for n in range(cycles):
            version += 1
            edited = text + f"\n# cycle {n}\n"
            client.text_document_did_change(lsp.DidChangeTextDocumentParams(
                text_document=lsp.VersionedTextDocumentIdentifier(uri=uri, version=version),
                content_changes=[lsp.TextDocumentContentChangeWholeDocument(text=edited)]))
            await session.published_for(uri, version)
            path.write_text(edited)
            session.published.pop((uri, version), None)
            client.text_document_did_save(lsp.DidSaveTextDocumentParams(
                text_document=lsp.TextDocumentIdentifier(uri=uri)))
            await session.published_for(uri, version)
            if n == 0:
                memory.append(resident_mib(pid))
        memory.append(resident_mib(pid))
        path.write_text(text)
    await client.shutdown_session()
    await client.stop()
    return initialize, first, latencies, memory


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--edits", type=int, default=40)
    parser.add_argument("--cycles", type=int, default=500)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        tmp = pathlib.Path(tmp)
        demo = tmp / "bookshop"
        shutil.copytree(DEMO, demo, ignore=shutil.ignore_patterns(".venv", ".tessary_cache"))
        synthetic = synthetic_project(tmp / "synthetic", apps=72, models_per_app=8)
        modules = sum(1 for _ in synthetic.rglob("*.py"))
        rows = []
        for label, root, relative, cycles in (("demo catalog/models.py", demo, "catalog/models.py", args.cycles),
                                              (f"synthetic ({modules} modules) app0/models.py", synthetic,
                                               "app0/models.py", 0)):
            cold = cold_check(root, relative)
            initialize, first, latencies, memory = asyncio.run(measure(root, relative, args.edits, cycles))
            rows.append((label, cold, initialize, first, statistics.median(latencies), max(latencies), memory))
    print(f"{'file':44} {'cold check s':>12} {'initialize s':>12} {'first diag s':>12} {'edit median s':>13} "
          f"{'edit max s':>10}")
    for label, cold, initialize, first, median, slowest, _ in rows:
        print(f"{label:44} {cold:12.2f} {initialize:12.2f} {first:12.2f} {median:13.3f} {slowest:10.3f}")
    for label, *_, memory in rows:
        if memory:
            print(f"\nmemory of the server on {label}: {memory[0]:.1f} MiB after the first edit-and-save cycle, "
                  f"{memory[1]:.1f} MiB after {args.cycles} ({(memory[1] / memory[0] - 1) * 100:+.1f}%)")


if __name__ == "__main__":
    main()
