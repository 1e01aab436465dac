"""Test setup: the modules come from the in-tree build (LIBFC_BUILD_DIR, default build/)."""

import os
import sys

BUILD_DIR = os.environ.get(
    "LIBFC_BUILD_DIR", os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "build")
)
if BUILD_DIR not in sys.path:
    sys.path.insert(0, BUILD_DIR)
