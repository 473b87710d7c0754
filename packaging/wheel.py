#!/usr/bin/env python3
"""Makes dist/bvex-VERSION-py3-none-TAGS.whl, the wheel that pip, pipx and uv install bvex
from: the binary BVEX as the wheel's script, which installers put on the path as is (bvex,
or bvex.exe on Windows), the manual page BUILD_DIR/bvex.1 under share/man/man1, the licence,
and metadata with the README as the long description. It holds no Python at all.

Run by tarball.sh and zip.sh for each binary they pack, with SOURCE_DATE_EPOCH set: every
member is dated then, in a fixed order and with fixed modes, so that two builds give the
same bytes. Only Python's standard library is needed.

Usage: wheel.py SOURCE_DIR BUILD_DIR VERSION PLATFORM BVEX HOMEPAGE
(PLATFORM as the tarballs name it: linux-x86_64, linux-aarch64, linux-armv7, linux-riscv64,
windows-x86_64, macos-universal; HOMEPAGE: the project's repository on the forge.)
"""
import base64
import hashlib
import os
import pathlib
import sys
import time
import zipfile

# The platform tags of each binary. The Linux ones are static: they need no C library, so
# one wheel serves glibc systems (manylinux) and musl ones (musllinux) alike. What they do
# need is a kernel: 3.2 for x86-64 and ARMv7, 3.7 for aarch64 and 4.15 for riscv64 (as
# `file` shows). manylinux2014 (glibc 2.17) stands for CentOS 7 and its kernel 3.10, which
# has all of them, where manylinux2010 would claim CentOS 6's 2.6.32; musllinux_1_1 is the
# oldest musl tag. riscv64 has no manylinux2014 alias. The Mac's binary holds arm64 and
# x86-64 and needs macOS 11.
PLATFORMS = {
    "linux-x86_64": ["manylinux_2_17_x86_64", "manylinux2014_x86_64", "musllinux_1_1_x86_64"],
    "linux-aarch64": ["manylinux_2_17_aarch64", "manylinux2014_aarch64",
                      "musllinux_1_1_aarch64"],
    "linux-armv7": ["manylinux_2_17_armv7l", "manylinux2014_armv7l", "musllinux_1_1_armv7l"],
    "linux-riscv64": ["manylinux_2_17_riscv64", "musllinux_1_1_riscv64"],
    "windows-x86_64": ["win_amd64"],
    "macos-universal": ["macosx_11_0_universal2"],
}
SUMMARY = "show where a patched file differs from its original, in hex"
CLASSIFIERS = [
    "Development Status :: 5 - Production/Stable",
    "Environment :: Console",
    "Intended Audience :: Developers",
    "License :: OSI Approved :: MIT License",
    "Operating System :: MacOS",
    "Operating System :: Microsoft :: Windows",
    "Operating System :: POSIX :: Linux",
    "Programming Language :: C++",
    "Topic :: Software Development :: Embedded Systems",
    "Topic :: Utilities",
]


def record_hash(data):
    """A RECORD entry's hash: sha256, in URL-safe base64 without padding."""
    digest = hashlib.sha256(data).digest()
    return "sha256=" + base64.urlsafe_b64encode(digest).rstrip(b"=").decode("ascii")


def metadata(version, homepage, readme):
    # Metadata 2.1 has every field used here, and every installer since pip 9 and Debian's
    # twine read it. Requires-Python guards only the installer: 3.6 is the oldest Python
    # whose pip (21.3 and later) knows every tag these wheels carry.
    headers = [
        ("Metadata-Version", "2.1"),
        ("Name", "bvex"),
        ("Version", version),
        ("Summary", SUMMARY),
        ("Home-page", homepage),
        ("Author", "The bvex authors"),
        ("License", "MIT"),
        ("Project-URL", f"Source, {homepage}"),
        ("Project-URL", f"Changelog, {homepage}/blob/v{version}/CHANGELOG.md"),
        ("Project-URL", f"Issues, {homepage}/issues"),
        ("Project-URL", f"Releases, {homepage}/releases"),
        ("Requires-Python", ">=3.6"),
        ("Description-Content-Type", "text/markdown; charset=UTF-8; variant=GFM"),
    ]
    headers += [("Classifier", classifier) for classifier in CLASSIFIERS]
    head = "".join(f"{name}: {value}\n" for name, value in headers)
    return (head + "\n" + readme).encode("utf-8")


def main(argv):
    if len(argv) != 7 or argv[4] not in PLATFORMS:
        sys.stderr.write(__doc__.split("\n\n")[-1])
        return 2
    src, build, version, platform, bvex, homepage = argv[1:]
    src, build = pathlib.Path(src), pathlib.Path(build)
    tags = PLATFORMS[platform]
    epoch = int(os.environ["SOURCE_DATE_EPOCH"])
    # Zip's times are local times of day from 1980 on; in UTC they are the commit's.
    stamp = time.gmtime(max(epoch, 315532800))[:6]

    data = f"bvex-{version}.data"
    info = f"bvex-{version}.dist-info"
    script = "bvex.exe" if platform.startswith("windows") else "bvex"
    wheel = "".join([
        "Wheel-Version: 1.0\n",
        "Generator: bvex packaging/wheel.py\n",
        "Root-Is-Purelib: false\n",
    ] + [f"Tag: py3-none-{tag}\n" for tag in tags])
    members = [  # name, bytes, mode
        (f"{data}/scripts/{script}", pathlib.Path(bvex).read_bytes(), 0o755),
        (f"{data}/data/share/man/man1/bvex.1", (build / "bvex.1").read_bytes(), 0o644),
        (f"{info}/LICENSE", (src / "LICENSE").read_bytes(), 0o644),
        (f"{info}/METADATA",
         metadata(version, homepage, (src / "README.md").read_text(encoding="utf-8")), 0o644),
        (f"{info}/WHEEL", wheel.encode("ascii"), 0o644),
    ]
    record = "".join(f"{name},{record_hash(body)},{len(body)}\n" for name, body, _ in members)
    members.append((f"{info}/RECORD", (record + f"{info}/RECORD,,\n").encode("ascii"), 0o644))

    out = build / "dist" / f"bvex-{version}-py3-none-{'.'.join(tags)}.whl"
    with zipfile.ZipFile(out, "w") as archive:
        for name, body, mode in members:
            member = zipfile.ZipInfo(name, date_time=stamp)
            member.create_system = 3  # Unix, so that installers take the modes
            member.external_attr = (0o100000 | mode) << 16
            member.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(member, body, compresslevel=9)
    out.chmod(0o644)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
