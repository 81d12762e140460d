"""Fetches the third-party sources that the build compiles in, and checks them.

Each one comes out of a pinned source distribution that pip downloads; the archive and
every file taken from it are checked by sha256. The files land in third_party/<name>/
together with the licence file that the distribution carries. The build compiles them
from there, and this project's own source distribution carries that folder, so that it
builds without the network. Nothing is fetched when the files are present; they are
checked every time.

    python scripts/third_party.py [FOLDER]     (default: third_party/ beside scripts/)

Runs with the standard library of any CPython 3.8 or later; failures end in one line
on stderr and exit status 1.
"""
import hashlib
import shutil
import subprocess
import sys
import tarfile
import tempfile
from pathlib import Path

# name -> (pinned distribution, sha256 of its archive, {file kept: (member in the archive, sha256)})
PINNED = {
    # CRoaring 5.2.2, amalgamated.
    "croaring": ("pyroaring==1.2.0", "e33bf8fc8d8aad7373f62147cb5dbfaf0fdcf19af8069d034cd8ef4fb41a78af", {
        "roaring.c": ("pyroaring/roaring.c", "ac5c0ced4e046e1f7b74f821b207461358a300963684b6f42050561a03ec900a"),
        "roaring.h": ("pyroaring/roaring.h", "71b4347cadd202fef1cd7319c051d43ec5802e4c3c074643e55c006a29a5a614"),
        "LICENSE": ("LICENSE", "b7b160796b12bb4112d9ff0690713a9be815041326dabb93fb36ac5152630ead"),
    }),
    # simdjson 3.2.1, amalgamated.
    "simdjson": ("cysimdjson==23.8", "07a6aa41188d57af961889a97f6406162dcb53e2ce72afe24947ddb150cdbd07", {
        "simdjson.cpp": ("cysimdjson/simdjson/simdjson.cpp", "47a2e8655671da499a9d290e230fb40808e97a3ae9085ffffbe698e6f196807f"),
        "simdjson.h": ("cysimdjson/simdjson/simdjson.h", "379c7ff31cce94b60d47d21d569e9888f6bee99f0bcfd188cfa648dfca04b9cc"),
        "LICENSE": ("LICENSE", "7204161367f7cbcebbf98157bc27bf3df1ca03e6d3c71ed7c42c0503e51c6137"),
    }),
}


class Refused(Exception):
    pass


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as stream:
        for block in iter(lambda: stream.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def check(path, expected, origin):
    if sha256_of(path) != expected:
        raise Refused(f"sha256 mismatch for {path.name} from {origin}; refusing to build it "
                      f"(delete {path.parent} and rerun, or update the pinned hash after review)")


def download(distribution, folder):
    try:
        import pip  # noqa: F401  (only to tell a missing pip from a failed download)
    except ImportError:
        raise Refused(f"{distribution} is missing and pip is not available to {sys.executable} to fetch it")
    name = distribution.split("==")[0]
    # The source distribution of this one only; the tools pip needs to read it come as wheels.
    command = [sys.executable, "-m", "pip", "download", "-q", "--disable-pip-version-check",
               "--no-deps", "--no-binary", name, distribution, "-d", str(folder)]
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    archives = list(folder.glob("*.tar.gz"))
    if result.returncode != 0 or len(archives) != 1:
        raise Refused(f"could not download {distribution} with pip; check the network and retry")
    return archives[0]


def fetch(name, target):
    distribution, archive_sha256, files = PINNED[name]
    print(f"third_party: fetching {name} from the {distribution} source distribution", file=sys.stderr)
    with tempfile.TemporaryDirectory() as scratch:
        archive = download(distribution, Path(scratch))
        check(archive, archive_sha256, distribution)
        with tarfile.open(archive) as tar:
            top = tar.getnames()[0].split("/")[0]
            staged = Path(scratch) / "staged"
            staged.mkdir()
            for kept, (member, expected) in files.items():
                source = tar.extractfile(f"{top}/{member}")
                if source is None:
                    raise Refused(f"{distribution} does not carry {member}")
                with open(staged / kept, "wb") as out:
                    shutil.copyfileobj(source, out)
                check(staged / kept, expected, distribution)
        shutil.rmtree(target, ignore_errors=True)
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copytree(staged, target)


def ensure(folder):
    for name, (distribution, _, files) in PINNED.items():
        target = folder / name
        if not all((target / kept).is_file() for kept in files):
            fetch(name, target)
        for kept, (_, expected) in files.items():
            check(target / kept, expected, distribution)


def main():
    folder = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[1] / "third_party"
    try:
        ensure(folder.resolve())
    except (Refused, OSError, tarfile.TarError) as error:
        print(f"third_party: {error}", file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
