#!/usr/bin/python3
"""The zip users unpack: one folder, named for the project's version, holding
the program, empty bin, pb and pb2 folders and a README that says where the
converter goes.

Usage: check_package.py BUILD_FOLDER CPACK   the zip CPack packs in a build
       check_package.py --release ZIP        a zip made by scripts/release,
                                             whose bytes depend on nothing
                                             but its files
"""
import hashlib
import pathlib
import re
import subprocess
import sys
import tempfile
import unittest
import zipfile

SOURCE = pathlib.Path(__file__).resolve().parent.parent.parent
# What unpacks as a folder on Windows too: the MS-DOS folder attribute.
FOLDER_ATTRIBUTES = 0o40755 << 16 | 0x10
PROGRAM_ATTRIBUTES = 0o100755 << 16
FILE_ATTRIBUTES = 0o100644 << 16


def project_version():
    text = (SOURCE / "CMakeLists.txt").read_text()
    found = re.search(r"^project\(mirrorpdf VERSION (\d+\.\d+\.\d+)[\s)]", text, re.MULTILINE)
    assert found, "CMakeLists.txt names no project version"
    return found.group(1)


VERSION = project_version()
FOLDER = f"mirrorpdf-{VERSION}-win32"


def digest(data):
    return hashlib.sha256(data).hexdigest()


class Package(unittest.TestCase):
    zip = None
    program = None  # the program the zip must hold, when known
    released = False

    def test_named_for_the_version_and_the_windows_build(self):
        self.assertEqual(self.zip.name, FOLDER + ".zip")

    def test_unpacks_to_one_ready_folder(self):
        with zipfile.ZipFile(self.zip) as archive, tempfile.TemporaryDirectory() as unpacked:
            archive.extractall(unpacked)
            top = pathlib.Path(unpacked)
            self.assertEqual([entry.name for entry in top.iterdir()], [FOLDER])
            folder = top / FOLDER
            self.assertEqual(sorted(entry.name for entry in folder.iterdir()),
                             ["README.txt", "bin", "mirrorpdf.exe", "pb", "pb2"])
            for name in ("bin", "pb", "pb2"):
                with self.subTest(folder=name):
                    self.assertTrue((folder / name).is_dir())
                    self.assertEqual(list((folder / name).iterdir()), [])
            if self.program:
                self.assertEqual(digest((folder / "mirrorpdf.exe").read_bytes()), digest(self.program.read_bytes()))

    def test_readme_names_the_version_and_says_where_the_converter_goes(self):
        with zipfile.ZipFile(self.zip) as archive:
            readme = archive.read(FOLDER + "/README.txt").decode("utf-8")
        self.assertEqual(readme.splitlines()[0], "mirrorpdf " + VERSION)
        for words in ("wkhtmltopdf.exe", "bin\\wkhtmltopdf.exe", "pb\\sub\\page.html", "pb2\\sub\\page.pdf"):
            with self.subTest(words=words):
                self.assertIn(words, readme)

    def test_released_zip_has_sorted_entries_one_time_and_fixed_modes(self):
        if not self.released:
            self.skipTest("packed by CPack, with the build's times")
        with zipfile.ZipFile(self.zip) as archive:
            entries = archive.infolist()
        names = [entry.filename for entry in entries]
        self.assertEqual(names, sorted(names))
        self.assertEqual(len({entry.date_time for entry in entries}), 1)
        for entry in entries:
            with self.subTest(entry=entry.filename):
                if entry.is_dir():
                    expected = FOLDER_ATTRIBUTES
                elif entry.filename.endswith(".exe"):
                    expected = PROGRAM_ATTRIBUTES
                else:
                    expected = FILE_ATTRIBUTES
                self.assertEqual(entry.external_attr, expected)
                self.assertEqual(entry.extra, b"")


def packed_by_cpack(build, cpack, output):
    subprocess.run([cpack, "-G", "ZIP", "-B", output, "--config", str(build / "CPackConfig.cmake")],
                   cwd=build, check=True, stdout=subprocess.DEVNULL)
    zips = list(pathlib.Path(output).glob("*.zip"))
    assert len(zips) == 1, zips
    return zips[0]


if __name__ == "__main__":
    if sys.argv[1] == "--release":
        sys.argv.pop(1)
        Package.zip = pathlib.Path(sys.argv.pop(1)).resolve()
        Package.released = True
        unittest.main(verbosity=2)
    else:
        build = pathlib.Path(sys.argv.pop(1)).resolve()
        cpack = sys.argv.pop(1)
        with tempfile.TemporaryDirectory() as output:
            Package.zip = packed_by_cpack(build, cpack, output)
            Package.program = build / "mirrorpdf.exe"
            passed = unittest.main(verbosity=2, exit=False).result.wasSuccessful()
        sys.exit(0 if passed else 1)
