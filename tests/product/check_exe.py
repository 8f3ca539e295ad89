#!/usr/bin/python3
"""The product file itself: a 32-bit windowed x86 program with its manifest,
needing no DLL beyond the system's.

Usage: check_exe.py PATH_TO_MIRRORPDF_EXE
"""
import sys
import unittest
import xml.etree.ElementTree as ElementTree

import pefile

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
WINDOWS_SETTINGS = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"

SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Windows Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10",
}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "msvcrt.dll"}
# What the program cannot do without: a build with another backend or entry
# would not import these.
NEEDED_IMPORTS = {
    "kernel32.dll": {"GetModuleHandleW", "GetModuleFileNameW", "ExitProcess", "FindFirstFileW", "FindNextFileW",
                     "FindClose", "GetFileAttributesW", "GetDriveTypeW", "CreateDirectoryW", "CreateProcessW",
                     "WaitForSingleObject", "CloseHandle", "InitializeCriticalSection"},
    "user32.dll": {"CharLowerW"},
    "shell32.dll": {"ShellExecuteExW"},
}
RT_MANIFEST = 24


class ProductFile(unittest.TestCase):
    pe = None

    def test_is_a_32_bit_windowed_x86_program(self):
        self.assertEqual(self.pe.FILE_HEADER.Machine, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"])
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, pefile.OPTIONAL_HEADER_MAGIC_PE)
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])
        self.assertTrue(self.pe.is_exe())
        self.assertFalse(self.pe.is_dll())

    def test_imports_only_from_system_dlls(self):
        imports = {}
        for entry in self.pe.DIRECTORY_ENTRY_IMPORT:
            names = {symbol.name.decode() for symbol in entry.imports if symbol.name}
            imports.setdefault(entry.dll.decode().lower(), set()).update(names)
        self.assertLessEqual(set(imports), SYSTEM_DLLS)
        for dll, needed in NEEDED_IMPORTS.items():
            with self.subTest(dll=dll):
                self.assertLessEqual(needed, imports.get(dll, set()))

    def manifest(self):
        manifests = [entry for entry in self.pe.DIRECTORY_ENTRY_RESOURCE.entries if entry.id == RT_MANIFEST]
        self.assertEqual(len(manifests), 1)
        # Resource 1: the manifest the loader reads for a program.
        self.assertEqual([entry.id for entry in manifests[0].directory.entries], [1])
        languages = manifests[0].directory.entries[0].directory.entries
        self.assertEqual(len(languages), 1)
        data = languages[0].data.struct
        return ElementTree.fromstring(self.pe.get_data(data.OffsetToData, data.Size))

    def test_manifest_declares_systems_dpi_controls_and_level(self):
        root = self.manifest()
        self.assertEqual(root.tag, ASM_V1 + "assembly")

        supported = {os.get("Id") for os in root.iter(COMPATIBILITY + "supportedOS")}
        self.assertEqual(supported, set(SUPPORTED_OS))

        dpi = [element.text.strip() for element in root.iter(WINDOWS_SETTINGS + "dpiAware")]
        self.assertEqual(dpi, ["true"])

        dependencies = [
            identity.attrib
            for dependency in root.findall(ASM_V1 + "dependency")
            for identity in dependency.iter(ASM_V1 + "assemblyIdentity")
        ]
        self.assertEqual(len(dependencies), 1)
        self.assertEqual(dependencies[0].get("name"), "Microsoft.Windows.Common-Controls")
        self.assertEqual(dependencies[0].get("version"), "6.0.0.0")
        self.assertEqual(dependencies[0].get("processorArchitecture"), "x86")
        self.assertEqual(dependencies[0].get("publicKeyToken"), "6595b64144ccf1df")
        self.assertEqual(dependencies[0].get("type"), "win32")

        levels = [element.get("level") for element in root.iter(ASM_V3 + "requestedExecutionLevel")]
        self.assertEqual(levels, ["asInvoker"])


if __name__ == "__main__":
    ProductFile.pe = pefile.PE(sys.argv.pop(1))
    unittest.main(verbosity=2)
