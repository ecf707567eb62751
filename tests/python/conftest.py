# SPDX-License-Identifier: Apache-2.0
# Shared fixtures of the Python module's tests: small images of known content.
import numpy as np
import pytest


@pytest.fixture
def rgb():
    """A 4 x 5 RGB uint8 array whose every element is distinct."""
    return np.arange(4 * 5 * 3, dtype=np.uint8).reshape(4, 5, 3)


@pytest.fixture
def rng():
    return np.random.default_rng(14)
