# SPDX-License-Identifier: Apache-2.0
# The module as a whole: version, docstrings, type stubs, the message without
# numpy, and the user guide's recipes (docs/recipes/*.py), each run as a program.
import ast
import importlib.util
import inspect
import os
import pathlib
import re
import subprocess
import sys

import pytest

import eks

STUBS = os.path.join(os.path.dirname(eks.__file__), "eks.pyi")
RECIPES = sorted((pathlib.Path(__file__).parents[2] / "docs" / "recipes").glob("*.py"))


def run(args):
    env = {**os.environ, "PYTHONPATH": os.path.dirname(eks.__file__)}
    return subprocess.run([sys.executable, *args], capture_output=True, text=True, env=env,
                          timeout=300)


def public_members():
    """(name, object) of the module's public names and its classes' members."""
    for name in dir(eks):
        if name.startswith("_"):
            continue
        obj = getattr(eks, name)
        yield name, obj
        if inspect.isclass(obj) and not issubclass(obj, (Exception, tuple)):
            for member, value in vars(obj).items():
                if not member.startswith("_") or member in ("__getitem__", "__setitem__"):
                    yield f"{name}.{member}", value


def test_version_tiff_images_and_the_message_without_numpy():
    assert eks.__version__.count(".") == 2
    with open("/proc/self/maps") as maps:  # else every TIFF test would be skipped unseen
        assert hasattr(eks, "TiffImage") or "libeks_tiff" not in maps.read()
    hidden = run(["-c", "import sys; sys.modules['numpy'] = None; import eks"])
    assert "eks needs numpy" in hidden.stderr and "python3-numpy" in hidden.stderr


def test_public_names_have_docstrings_and_stubs_that_type_check(tmp_path, monkeypatch):
    stubbed = set()
    for node in ast.parse(open(STUBS).read()).body:
        if isinstance(node, ast.ClassDef):
            stubbed |= {node.name} | {f"{node.name}.{n.name}" for n in node.body
                                      if isinstance(n, ast.FunctionDef)}
        elif isinstance(node, ast.AnnAssign):
            stubbed.add(node.target.id)
    for name, obj in public_members():
        doc = (obj.__doc__ or "").strip()
        text = doc.split(")", 1)[-1] if doc.startswith(name.split(".")[-1] + "(") else doc
        assert text.strip(" ->\n"), name
        assert name in stubbed or name.split(".")[0] in ("Error", "FillValue"), name
    mypy = pytest.importorskip("mypy.api")
    program = tmp_path / "use.py"
    program.write_text(
        "import numpy as np\nimport numpy.typing as npt\nimport eks\n"
        "image = eks.MemoryImage(np.zeros((4, 5), np.uint8))\n"
        "rows: npt.NDArray[np.float32] = image.read(0, 0, 2, 2, dtype=np.float32)\n"
        "image[1:2] = 3\nn: int = image.ndim + len(image) + image.size.x\n"
        "tiff: eks.TiffImage = eks.TiffImage.create('t.tif', (16, 16), np.uint8)\n"
        "hits: int = tiff.cache_stats.hits + tiff.threads\n"
        "wrong: str = image.ndim\n")
    monkeypatch.setenv("MYPYPATH", os.path.dirname(STUBS))
    out, _, status = mypy.run(["--strict", "--no-incremental", "--cache-dir", os.devnull,
                               str(program)])
    assert status == 1 and out.count("error:") == 1, out  # only the last line is wrong
    assert 'use.py:10: error: Incompatible types in assignment (expression has type "int"' in out


@pytest.mark.parametrize("recipe", RECIPES, ids=lambda p: p.stem)
def test_recipe(recipe):
    text = recipe.read_text()
    for package in re.findall(r"^(?:import|from) (\w+)", text, re.M):
        if importlib.util.find_spec(package) is None:
            pytest.skip(f"needs {package}")
    if "TiffImage" in text and not hasattr(eks, "TiffImage"):
        pytest.skip("built without eks_tiff")
    done = run([str(recipe)])
    assert done.returncode == 0, done.stdout + done.stderr
