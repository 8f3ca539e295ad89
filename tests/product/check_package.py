#!/usr/bin/python3
"""The zip users unpack: one folder holding the program, empty bin, pb and pb2
folders and a README that says where the converter goes.

Usage: check_package.py BUILD_FOLDER CPACK
"""
import hashlib
import pathlib
import subprocess
import sys
import tempfile
import unittest
import zipfile

FOLDER = "mirrorpdf-1.0.0-win32"


def digest(data):
    return hashlib.sha256(data).hexdigest()


class Package(unittest.TestCase):
    build = None
    cpack = None

    @classmethod
    def setUpClass(cls):
        cls.output = tempfile.TemporaryDirectory()
        subprocess.run([cls.cpack, "-G", "ZIP", "-B", cls.output.name, "--config", str(cls.build / "CPackConfig.cmake")],
                       cwd=cls.build, check=True, stdout=subprocess.DEVNULL)
        zips = list(pathlib.Path(cls.output.name).glob("*.zip"))
        assert len(zips) == 1, zips
        cls.zip = zips[0]

    @classmethod
    def tearDownClass(cls):
        cls.output.cleanup()

    def test_named_for_the_windows_build(self):
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
            self.assertEqual(digest((folder / "mirrorpdf.exe").read_bytes()),
                             digest((self.build / "mirrorpdf.exe").read_bytes()))

    def test_readme_says_what_the_tool_does_and_where_the_converter_goes(self):
        with zipfile.ZipFile(self.zip) as archive:
            readme = archive.read(FOLDER + "/README.txt").decode("utf-8")
        for words in ("wkhtmltopdf.exe", "bin\\wkhtmltopdf.exe", "pb\\sub\\page.html", "pb2\\sub\\page.pdf"):
            with self.subTest(words=words):
                self.assertIn(words, readme)


if __name__ == "__main__":
    Package.build = pathlib.Path(sys.argv.pop(1)).resolve()
    Package.cpack = sys.argv.pop(1)
    unittest.main(verbosity=2)
