"""Builds the extension from the library's own sources, so that no installed libtarn is
needed: the sources are those of the project this folder belongs to."""
import ctypes.util
import os
import re
import sys
import tempfile

from pybind11.setup_helpers import Pybind11Extension, build_ext
from setuptools import setup

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
LIB = os.path.join(ROOT, "lib")
if not os.path.isdir(LIB):
    sys.exit("python/ builds from the project's lib/: install it from the project's checkout")


def version():
    text = open(os.path.join(ROOT, "include", "tarn", "tarn.h")).read()
    return tuple(re.search(rf"#define TARN_VERSION_{part} (\d+)", text).group(1)
                 for part in ("MAJOR", "MINOR", "PATCH"))


def sources(*parts):
    """The library's sources of those parts, as lib/sources.txt lists them."""
    listed = []
    for line in open(os.path.join(LIB, "sources.txt")):
        words = line.split()
        if len(words) == 2 and not line.startswith("#") and words[0] in parts:
            listed.append(os.path.relpath(os.path.join(LIB, words[1]), HERE))
    return listed


major, minor, patch = version()

defines = [("TARN_STATIC", "1"), ("TARN_BUILDING_LIBRARY", "1")]
include_dirs = [LIB, os.path.join(ROOT, "include")]
# Signing needs libsodium (checking does not): used where the machine has it.
libraries = []
if os.name != "nt" and os.path.exists("/usr/include/sodium.h") and ctypes.util.find_library("sodium"):
    defines.append(("TARN_HAVE_SODIUM", "1"))
    libraries.append("sodium")
extension = Pybind11Extension(
    "tarn._tarn",
    ["tarn/_tarn.cpp"] + sources("hosted", "win32" if os.name == "nt" else "posix"),
    include_dirs=include_dirs,
    define_macros=defines,
    libraries=libraries,
    cxx_std=20,
    extra_compile_args=["-O3", "-fvisibility=hidden"] if os.name != "nt" else [],
)

class BuildWithCore(build_ext):
    """The core is C: its objects are compiled first, with no C++ option, and linked into the
    extension."""

    def build_extension(self, ext):
        os.makedirs(self.build_temp, exist_ok=True)  # the objects' paths pass through it
        flags = ["-std=c99", "-O3", "-fvisibility=hidden", "-fPIC"] if os.name != "nt" else []
        ext.extra_objects = self.compiler.compile(
            sources("core"), output_dir=self.build_temp, macros=defines,
            include_dirs=include_dirs, extra_postargs=flags)
        super().build_extension(ext)


# Nothing is written into the source tree: the build's files go to a folder of their own.
BUILD = os.path.join(tempfile.gettempdir(), f"tarn-python-build-{os.getuid() if hasattr(os, 'getuid') else 0}")
setup(version=f"{major}.{minor}.{patch}", ext_modules=[extension],
      cmdclass={"build_ext": BuildWithCore},
      options={"build": {"build_base": BUILD}, "egg_info": {"egg_base": BUILD}})
