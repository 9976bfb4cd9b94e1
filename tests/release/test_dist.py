#!/usr/bin/env python3
"""Checks of the release archive writer (dist.py).

  test_dist.py [path/to/wrenfold.exe]

Given a built wrenfold.exe, also checks that it carries no link time, so
that two builds of one commit give the same archive.
"""

import hashlib
import io
import os
import re
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import dist  # noqa: E402

BUILT_EXE = sys.argv.pop(1) if __name__ == "__main__" and len(sys.argv) > 1 else None


def fake_exe(stamp):
    """The first bytes of a PE image whose header holds STAMP."""
    data = bytearray(0x40) + b"PE\0\0" + struct.pack("<HHI", 0x8664, 1, stamp) + bytes(16)
    data[:2] = b"MZ"
    struct.pack_into("<I", data, 0x3C, 0x40)
    return bytes(data)


class SourceTree:
    """A temporary tree with what dist.py packs."""

    def __init__(self, folder, stamp=0, mtime=None):
        self.root = folder
        files = {"wrenfold.version": b"1.10\n",
                 "README.md": b"# Wrenfold\n", "LICENSE": b"All rights reserved.\n",
                 "wrenfold.exe": fake_exe(stamp)}
        for name, data in files.items():
            path = os.path.join(folder, name)
            with open(path, "wb") as f:
                f.write(data)
            if mtime is not None:
                os.utime(path, (mtime, mtime))
        self.exe = os.path.join(folder, "wrenfold.exe")

    def pack(self):
        out = os.path.join(self.root, "dist")
        if dist.main(["--exe", self.exe, "--out-dir", out, "--root", self.root]) != 0:
            raise AssertionError("dist.py refused to pack")
        with open(os.path.join(out, "wrenfold-1.10-win64.zip"), "rb") as f:
            return f.read()


class ArchiveTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def tree(self, name, **kwargs):
        folder = os.path.join(self.folder.name, name)
        os.makedirs(folder)
        return SourceTree(folder, **kwargs)

    def test_same_files_give_the_same_bytes_whatever_their_times_and_the_zone(self):
        first = self.tree("a", mtime=1_000_000_000).pack()
        old_tz = os.environ.get("TZ")
        os.environ["TZ"] = "Pacific/Kiritimati"
        time.tzset()
        try:
            second = self.tree("b", mtime=1_700_000_000).pack()
        finally:
            if old_tz is None:
                del os.environ["TZ"]
            else:
                os.environ["TZ"] = old_tz
            time.tzset()
        self.assertEqual(first, second)

    def test_members_their_order_dates_and_sums(self):
        data = self.tree("a").pack()
        with zipfile.ZipFile(io.BytesIO(data)) as archive:
            infos = archive.infolist()
            self.assertEqual([i.filename for i in infos],
                             ["wrenfold.exe", "README.md", "LICENSE", "SHA256SUMS"])
            for info in infos:
                self.assertEqual(info.date_time, dist.FIXED_DATE_TIME)
                self.assertEqual(info.external_attr >> 16, dist.FILE_MODE)
            sums = archive.read("SHA256SUMS").decode("ascii")
            listed = dict(reversed(line.split("  ")) for line in sums.splitlines())
            self.assertEqual(sorted(listed), ["LICENSE", "README.md", "wrenfold.exe"])
            for name, digest in listed.items():
                self.assertEqual(hashlib.sha256(archive.read(name)).hexdigest(), digest, name)
            self.assertTrue(sums.endswith("  LICENSE\n"))


class RefusalTest(unittest.TestCase):
    def test_an_executable_with_a_link_time_is_not_packed(self):
        with tempfile.TemporaryDirectory() as folder:
            tree = SourceTree(folder, stamp=0x6B15DE73)
            code = dist.main(["--exe", tree.exe, "--out-dir", os.path.join(folder, "dist"),
                              "--root", folder])
            self.assertEqual(code, 1)
            self.assertFalse(os.path.exists(os.path.join(folder, "dist")))

    def test_pe_timestamp(self):
        self.assertEqual(dist.pe_timestamp(fake_exe(0)), 0)
        self.assertEqual(dist.pe_timestamp(fake_exe(0x12345678)), 0x12345678)
        with self.assertRaises(dist.DistError):
            dist.pe_timestamp(b"#!/bin/sh\n" + bytes(100))
        broken = bytearray(fake_exe(0))
        struct.pack_into("<I", broken, 0x3C, 0x1000)  # header offset past the end
        with self.assertRaises(dist.DistError):
            dist.pe_timestamp(bytes(broken))


@unittest.skipUnless(BUILT_EXE, "no wrenfold.exe given")
class BuiltExecutableTest(unittest.TestCase):
    def test_the_built_executable_has_no_link_time(self):
        with open(BUILT_EXE, "rb") as f:
            self.assertEqual(dist.pe_timestamp(f.read()), 0)

    def test_a_signed_archive_ships_the_signed_exe_and_its_sum(self):
        with tempfile.TemporaryDirectory() as folder:
            cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                            "-keyout", key, "-out", cert, "-days", "2",
                            "-subj", "/CN=Wrenfold test signing",
                            "-addext", "extendedKeyUsage=codeSigning"],
                           capture_output=True, check=True)
            out = os.path.join(folder, "dist")
            self.assertEqual(dist.main(["--exe", BUILT_EXE, "--out-dir", out,
                                        "--sign-cert", cert, "--sign-key", key]), 0)
            [name] = os.listdir(out)
            with zipfile.ZipFile(os.path.join(out, name)) as archive:
                exe = archive.read("wrenfold.exe")
                sums = archive.read("SHA256SUMS").decode("ascii")
            self.assertIn(f"{hashlib.sha256(exe).hexdigest()}  wrenfold.exe\n", sums)

            def verify(data):
                path = os.path.join(folder, "check.exe")
                with open(path, "wb") as f:
                    f.write(data)
                return subprocess.run(["osslsigncode", "verify", "-in", path, "-CAfile", cert],
                                      capture_output=True, text=True)

            done = verify(exe)
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
            digests = re.findall(r"(?:Current|Calculated) message digest\s*: ([0-9A-F]+)",
                                 done.stdout)
            self.assertEqual(len(digests), 2, done.stdout)
            self.assertEqual(digests[0], digests[1])
            # The signature covers the code: one byte changed in it fails.
            tampered = bytearray(exe)
            tampered[0x400] ^= 0xFF
            self.assertNotEqual(verify(bytes(tampered)).returncode, 0)


if __name__ == "__main__":
    unittest.main()
