#!/usr/bin/python3
"""The product file itself: a 32-bit windowed x86 program with its manifest
and version, hardened, importing only what Windows Vista's system DLLs have.

Usage: check_exe.py PATH_TO_MIRRORPDF_EXE [SYMBOLS_FILE]

With SYMBOLS_FILE the program is a released one: stripped, its debug
information kept in SYMBOLS_FILE, to which it is tied.
"""
import pathlib
import re
import struct
import sys
import unittest
import xml.etree.ElementTree as ElementTree
import zlib

import pefile

SOURCE = pathlib.Path(__file__).resolve().parent.parent.parent
PINNED_IMPORTS = SOURCE / "tests" / "product" / "imports.txt"

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
WINDOWS_SETTINGS = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
WINDOWS_SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"

SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Windows Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10",
}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "msvcrt.dll", "advapi32.dll"}
# What the program cannot do without: a build with another backend or entry
# would not import these.
NEEDED_IMPORTS = {
    "kernel32.dll": {"GetModuleHandleW", "GetModuleFileNameW", "ExitProcess", "FindFirstFileW", "FindNextFileW",
                     "FindClose", "GetFileAttributesW", "GetDriveTypeW", "CreateDirectoryW", "CreateProcessW",
                     "WaitForSingleObject", "CloseHandle", "InitializeCriticalSection"},
    "user32.dll": {"CharLowerW"},
    "shell32.dll": {"ShellExecuteExW"},
}
# Newer than Vista, and near what this program does: taken through
# GetProcAddress, never imported, or the program would not start on Vista.
NEWER_THAN_VISTA = {
    "kernel32.dll!SetDefaultDllDirectories", "kernel32.dll!AddDllDirectory", "kernel32.dll!RemoveDllDirectory",
    "kernel32.dll!SetThreadErrorMode", "kernel32.dll!GetThreadErrorMode", "kernel32.dll!CreateFile2",
    "kernel32.dll!CopyFile2", "kernel32.dll!GetSystemTimePreciseAsFileTime",
    "kernel32.dll!TryAcquireSRWLockExclusive", "kernel32.dll!TryAcquireSRWLockShared",
    "kernel32.dll!SetProcessMitigationPolicy", "kernel32.dll!GetProcessMitigationPolicy",
    "kernel32.dll!CreateRemoteThreadEx", "kernel32.dll!GetFileInformationByName",
    "user32.dll!SetProcessDpiAwarenessContext", "user32.dll!GetDpiForWindow",
}
RT_MANIFEST = 24
VERSION_STRINGS = ("FileDescription", "FileVersion", "InternalName", "LegalCopyright", "OriginalFilename",
                   "ProductName", "ProductVersion")

IMAGE_FILE_RELOCS_STRIPPED = 0x0001
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
NO_SEH = 0x0400
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_WRITE = 0x80000000
COFF_SYMBOL_SIZE = 18
# Reads or writes of fs:[0], the head of the structured exception handler
# chain on 32-bit Windows: fs prefix, then mov eax<->moffs32 (A1, A3), or
# push/pop/mov with a ModRM that names a bare 32-bit displacement.
HANDLER_CHAIN = re.compile(rb"\x64(?:[\xa1\xa3]|[\x89\x8b\xc7\xff\x8f][\x05\x0d\x15\x1d\x25\x2d\x35\x3d])\x00\x00\x00\x00")


def project_version():
    """The one place the version is kept: the CMake project's VERSION."""
    text = (SOURCE / "CMakeLists.txt").read_text()
    found = re.search(r"^project\(mirrorpdf VERSION (\d+)\.(\d+)\.(\d+)[\s)]", text, re.MULTILINE)
    assert found, "CMakeLists.txt names no project version"
    return tuple(int(part) for part in found.groups())


def pinned_imports():
    lines = PINNED_IMPORTS.read_text().splitlines()
    return [line for line in lines if line and not line.startswith("#")]


def coff_string_table(pe):
    header = pe.FILE_HEADER
    if not header.PointerToSymbolTable:
        return b""
    start = header.PointerToSymbolTable + COFF_SYMBOL_SIZE * header.NumberOfSymbols
    size = struct.unpack_from("<I", pe.__data__, start)[0]
    return bytes(pe.__data__[start:start + size])


def long_name(strings, offset):
    return strings[offset:strings.index(b"\0", offset)].decode()


def section_names(pe):
    """Names as the linker wrote them: long ones ("/4") looked up in the
    string table that follows the symbol table."""
    strings = coff_string_table(pe)
    names = []
    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode()
        names.append(long_name(strings, int(name[1:])) if name.startswith("/") else name)
    return names


def coff_symbols(pe):
    header = pe.FILE_HEADER
    strings = coff_string_table(pe)
    names = set()
    index = 0
    while index < header.NumberOfSymbols:
        offset = header.PointerToSymbolTable + COFF_SYMBOL_SIZE * index
        raw, aux = bytes(pe.__data__[offset:offset + 8]), pe.__data__[offset + 17]
        if raw[:4] == b"\0\0\0\0":
            names.add(long_name(strings, struct.unpack_from("<I", raw, 4)[0]))
        else:
            names.add(raw.rstrip(b"\0").decode(errors="replace"))
        index += 1 + aux
    return names


class ProductFile(unittest.TestCase):
    pe = None
    symbols = None  # the symbols file of a released program, else None

    def imports(self):
        return {entry.dll.decode().lower() + "!" + symbol.name.decode()
                for entry in self.pe.DIRECTORY_ENTRY_IMPORT for symbol in entry.imports if symbol.name}

    def test_is_a_32_bit_windowed_x86_program_that_vista_loads(self):
        self.assertEqual(self.pe.FILE_HEADER.Machine, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"])
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, pefile.OPTIONAL_HEADER_MAGIC_PE)
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])
        self.assertTrue(self.pe.is_exe())
        self.assertFalse(self.pe.is_dll())
        header = self.pe.OPTIONAL_HEADER
        self.assertLessEqual((header.MajorSubsystemVersion, header.MinorSubsystemVersion), (6, 0))
        self.assertLessEqual((header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion), (6, 0))

    def test_imports_only_from_system_dlls(self):
        imports = {}
        for name in self.imports():
            dll, function = name.split("!")
            imports.setdefault(dll, set()).add(function)
        self.assertLessEqual(set(imports), SYSTEM_DLLS)
        for dll, needed in NEEDED_IMPORTS.items():
            with self.subTest(dll=dll):
                self.assertLessEqual(needed, imports.get(dll, set()))

    def test_imports_exactly_the_pinned_functions(self):
        pinned = set(pinned_imports())
        actual = self.imports()
        self.assertEqual((sorted(actual - pinned), sorted(pinned - actual)), ([], []),
                         "(imported but not in imports.txt, in imports.txt but not imported): a new import must "
                         "be one Windows Vista has, and listed")

    def test_pinned_list_is_sorted_plain_and_older_than_vista(self):
        pinned = pinned_imports()
        self.assertEqual(pinned, sorted(set(pinned)))
        for name in pinned:
            with self.subTest(name=name):
                self.assertRegex(name, r"^[a-z0-9]+\.dll![A-Za-z_][A-Za-z0-9_]*$")
                self.assertIn(name.split("!")[0], SYSTEM_DLLS)
                self.assertNotIn(name, NEWER_THAN_VISTA)

    def test_address_randomisation_and_no_execute_data(self):
        self.assertTrue(self.pe.OPTIONAL_HEADER.DllCharacteristics & DYNAMIC_BASE)
        self.assertTrue(self.pe.OPTIONAL_HEADER.DllCharacteristics & NX_COMPAT)
        # A 32-bit image is moved only if it keeps its relocations.
        self.assertFalse(self.pe.FILE_HEADER.Characteristics & IMAGE_FILE_RELOCS_STRIPPED)
        relocations = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
        self.assertGreater(relocations.Size, 0)

    def test_no_section_both_writable_and_executable(self):
        for name, section in zip(section_names(self.pe), self.pe.sections):
            with self.subTest(section=name):
                both = SCN_MEM_WRITE | SCN_MEM_EXECUTE
                self.assertNotEqual(section.Characteristics & both, both)
        imports = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]]
        self.assertFalse(self.pe.get_section_by_rva(imports.VirtualAddress).Characteristics & SCN_MEM_EXECUTE)

    def test_declares_no_exception_handlers_and_its_code_installs_none(self):
        self.assertTrue(self.pe.OPTIONAL_HEADER.DllCharacteristics & NO_SEH)
        for section in self.pe.sections:
            if section.Characteristics & SCN_MEM_EXECUTE:
                self.assertIsNone(HANDLER_CHAIN.search(section.get_data()))

    def test_stack_protection_is_linked_in(self):
        symbols = coff_symbols(self.symbols or self.pe)
        # i686 names carry a leading underscore.
        self.assertLessEqual({"___stack_chk_fail", "___stack_chk_guard"}, symbols)

    def test_version_resource_shows_the_project_version(self):
        major, minor, patch = project_version()
        version = f"{major}.{minor}.{patch}"
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (major << 16 | minor, patch << 16))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (major << 16 | minor, patch << 16))
        strings = {}
        for info in self.pe.FileInfo[0]:
            if info.Key == b"StringFileInfo":
                for table in info.StringTable:
                    strings.update({key.decode(): value.decode() for key, value in table.entries.items()})
        for key in VERSION_STRINGS:
            with self.subTest(key=key):
                self.assertTrue(strings.get(key, "").strip())
        self.assertEqual(strings["FileVersion"], version)
        self.assertEqual(strings["ProductVersion"], version)
        self.assertEqual(strings["ProductName"], "mirrorpdf")
        self.assertEqual(strings["OriginalFilename"], "mirrorpdf.exe")
        identity = self.manifest().find(ASM_V1 + "assemblyIdentity")
        self.assertEqual((identity.get("name"), identity.get("version")), ("mirrorpdf", version + ".0"))

    def test_released_program_is_stripped_and_tied_to_its_symbols(self):
        if self.symbols is None:
            self.skipTest("not a released program")
        names = section_names(self.pe)
        self.assertEqual([name for name in names if name.startswith(".debug")], [])
        self.assertEqual(self.pe.FILE_HEADER.NumberOfSymbols, 0)
        self.assertIn(".gnu_debuglink", names)
        link = self.pe.sections[names.index(".gnu_debuglink")].get_data()
        name_end = link.index(b"\0")
        crc_at = (name_end + 4) // 4 * 4
        self.assertEqual(link[:name_end].decode(), self.symbols_path.name)
        self.assertEqual(struct.unpack_from("<I", link, crc_at)[0], zlib.crc32(self.symbols_path.read_bytes()))
        # The symbols describe this very image.
        self.assertIn(".debug_info", section_names(self.symbols))
        image = [(name, s.VirtualAddress) for name, s in zip(names, self.pe.sections) if name != ".gnu_debuglink"]
        described = list(zip(section_names(self.symbols), (s.VirtualAddress for s in self.symbols.sections)))
        self.assertEqual(described[:len(image)], image)

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
        long_paths = [element.text.strip() for element in root.iter(WINDOWS_SETTINGS_2016 + "longPathAware")]
        self.assertEqual(long_paths, ["true"])

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
    if len(sys.argv) > 1:
        ProductFile.symbols_path = pathlib.Path(sys.argv.pop(1))
        ProductFile.symbols = pefile.PE(str(ProductFile.symbols_path))
    unittest.main(verbosity=2)
