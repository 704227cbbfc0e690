"""Builds the extension jpg._jpg.

CMake builds the codec's static library from the repository (one directory
up), so that every SIMD kernel file keeps the instruction-set flags
cmake/simd.cmake gives it; CMake's file API then tells where the library is,
and setuptools compiles the module and links the library into it. Nothing is
downloaded: CMake and a C++17 compiler are all the build needs.
"""
import json
import os
import re
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent  # the repository: CMakeLists.txt, include/, src/
LIBRARY_TARGET = "jpgcodec_static"
CONFIG = "Release"


def project_version():
    """The version the library reports (jpgVersion), from CMakeLists.txt."""
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(JPG VERSION ([0-9.]+)", text).group(1)


def target_artifact(build_dir, target):
    """The file CMake makes for `target`, as its file API's codemodel says."""
    reply = build_dir / ".cmake" / "api" / "v1" / "reply"
    index = json.loads(max(reply.glob("index-*.json")).read_text())
    codemodel_file = next(o["jsonFile"] for o in index["objects"] if o["kind"] == "codemodel")
    codemodel = json.loads((reply / codemodel_file).read_text())
    configuration = next((c for c in codemodel["configurations"] if c["name"] in (CONFIG, "")),
                         codemodel["configurations"][0])
    target_file = next(t["jsonFile"] for t in configuration["targets"] if t["name"] == target)
    artifact = json.loads((reply / target_file).read_text())["artifacts"][0]["path"]
    return build_dir / artifact


class BuildWithCMake(build_ext):
    """build_ext that first builds the codec's static library with CMake."""

    def build_extension(self, ext):
        library = str(self.build_codec_library())
        ext.extra_objects = [library]
        # A library newer than the module (a later checkout) links it again.
        ext.depends = list(ext.depends) + [library]
        super().build_extension(ext)

    def build_codec_library(self):
        if not (ROOT / "CMakeLists.txt").is_file():
            sys.exit(f"jpg: the library's sources are not at {ROOT}: build from a checkout of the repository")
        build_dir = Path(self.build_temp).resolve() / "codec"
        query = build_dir / ".cmake" / "api" / "v1" / "query" / "codemodel-v2"
        query.parent.mkdir(parents=True, exist_ok=True)
        query.touch()
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build_dir), f"-DCMAKE_BUILD_TYPE={CONFIG}",
                        "-DJPG_BUILD_TESTS=OFF", "-DJPG_BUILD_TOOL=OFF"], check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", LIBRARY_TARGET, "--config", CONFIG,
                        "--parallel", jobs], check=True)
        return target_artifact(build_dir, LIBRARY_TARGET)


if sys.platform == "win32":
    compile_args, link_args = ["/std:c++17"], []
else:
    # Only PyInit__jpg leaves the module: the library's symbols stay inside.
    compile_args = ["-std=c++17", "-fvisibility=hidden", "-fvisibility-inlines-hidden"]
    link_args = ["-pthread"] + ([] if sys.platform == "darwin" else ["-Wl,--exclude-libs,ALL"])

setup(
    version=project_version(),
    ext_modules=[Extension("jpg._jpg", sources=["ext/jpg_module.cpp"], include_dirs=[str(ROOT / "include")],
                           language="c++", extra_compile_args=compile_args, extra_link_args=link_args)],
    cmdclass={"build_ext": BuildWithCMake},
)
