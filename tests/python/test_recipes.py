# SPDX-License-Identifier: Apache-2.0
# The Python recipes of the user guide (docs/recipes/*.py): each runs as its
# own program and exits with 0 when it got what it prints. Recipes whose
# packages (dask, distributed, xarray) are missing are skipped.
import ast
import importlib.util
import os
import pathlib
import subprocess
import sys

import pytest

import eks

RECIPES = sorted((pathlib.Path(__file__).parents[2] / "docs" / "recipes").glob("*.py"))


def imported(path):
    """The top-level packages a program imports."""
    for node in ast.walk(ast.parse(path.read_text())):
        if isinstance(node, ast.Import):
            yield from (alias.name.split(".")[0] for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and node.module:
            yield node.module.split(".")[0]


@pytest.mark.parametrize("recipe", RECIPES, ids=lambda p: p.stem)
def test_recipe(recipe):
    missing = [m for m in imported(recipe) if importlib.util.find_spec(m) is None]
    if missing:
        pytest.skip(f"needs {', '.join(missing)}")
    if "TiffImage" in recipe.read_text() and not hasattr(eks, "TiffImage"):
        pytest.skip("built without eks_tiff")
    env = {**os.environ, "PYTHONPATH": os.path.dirname(eks.__file__)}
    done = subprocess.run([sys.executable, str(recipe)], capture_output=True, text=True,
                          env=env, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
