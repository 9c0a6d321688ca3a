"""The wheel's build step: the module comes from the project's CMake, with the `module` preset
(release flags, no tests or benchmarks) and only the quarn_rs target, as `make demo` builds it."""

import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        # One build folder per interpreter, under setuptools' own; CMAKE_BUILD_PARALLEL_LEVEL sets
        # the number of jobs.
        build_dir = Path(self.build_temp).resolve() / "cmake"
        subprocess.run(["cmake", "--preset", "module", "-B", str(build_dir),
                        f"-DPython3_EXECUTABLE={sys.executable}"], cwd=ROOT, check=True)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", ext.name], cwd=ROOT,
                       check=True)
        built = build_dir / "python" / self.get_ext_filename(ext.name)
        if not built.is_file():
            sys.exit(f"CMake built no {built.name} for {sys.executable}")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    # The compiled module is top-level; its stubs are the directory quarn_rs/ beside it, where type
    # checkers and editors look for them.
    packages=["quarn_rs"],
    package_dir={"quarn_rs": "src/quarn_rs"},
    package_data={"quarn_rs": ["__init__.pyi", "py.typed"]},
    include_package_data=False,
    ext_modules=[Extension("quarn_rs", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
