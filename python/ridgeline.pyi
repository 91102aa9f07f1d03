"""Fingerprint feature extraction and matching."""

import os
from typing import Literal, Union

import numpy as np
import numpy.typing as npt

__version__: str
ENDING: int
BIFURCATION: int
DEFAULT_LEVEL: int

ImageInput = Union[npt.NDArray[np.uint8], str, os.PathLike[str], bytes, bytearray, memoryview]
TemplateInput = Union[bytes, bytearray, memoryview]
Frame = Literal["input", "engine"]

class Error(Exception):
    """Base class of the errors ridgeline raises."""

class ImageError(Error, ValueError):
    """The image cannot be read, or its size is outside what the engine takes."""

class CaptureError(Error, ValueError):
    """The engine refused the capture."""

    reason: Literal["image size", "bad capture", "too few minutiae"]

class TemplateError(Error, ValueError):
    """Template bytes that are not a well-formed template."""

class Features:
    """The features of one print, from extract() or read_template()."""

    @property
    def minutiae(self) -> np.ndarray:
        """Structured array (x i4, y i4, angle i2, type u1, quality u1), input image pixels."""
    @property
    def singular_points(self) -> np.ndarray:
        """Structured array (x i4, y i4, direction i2, type i1), input image pixels."""
    @property
    def quality(self) -> int:
        """The extraction's quality score, 0..100."""
    @property
    def block_map(self) -> npt.NDArray[np.uint8]:
        """Block direction codes, rows x columns of 16-pixel blocks of the working image."""
    @property
    def name(self) -> str: ...
    def get_minutiae(self, frame: Frame = "input") -> np.ndarray: ...
    def get_singular_points(self, frame: Frame = "input") -> np.ndarray: ...
    def template(self) -> bytes:
        """The compact template an enrollment stores of this print."""
    def __len__(self) -> int: ...

def extract(image: ImageInput, ppi: int | None = None, trim: bool = True) -> Features:
    """Reads a fingerprint image and extracts its features (releases the GIL)."""

def read_template(template: bytes) -> Features:
    """Checks and decodes stored template bytes."""

def compare(probe: Features | TemplateInput, reference: Features | TemplateInput) -> int:
    """The matcher's score, 0..9999, of probe against reference (releases the GIL)."""

def threshold(level: int) -> int:
    """The score a match needs at a match level (1..7)."""

def matches(score: int, level: int = 4) -> bool:
    """Whether a score reaches the threshold of the level."""
