"""Fingerprint feature extraction and matching."""

import os
from typing import Any, Literal, Optional, TypedDict, Union

import numpy as np
import numpy.typing as npt

__version__: str
ENDING: int
BIFURCATION: int
DEFAULT_LEVEL: int

ImageInput = Union[npt.NDArray[np.uint8], str, os.PathLike[str], bytes, bytearray, memoryview]
TemplateInput = Union[bytes, bytearray, memoryview]
Frame = Literal["input", "engine"]
RecordFormat = Literal[
    "iso19794-2:2005", "iso19794-2:2011", "ansi378-2004", "ansi378-2009", "ansi378-2009am1"
]
FingerName = Literal[
    "right-thumb", "right-index", "right-middle", "right-ring", "right-little",
    "left-thumb", "left-index", "left-middle", "left-ring", "left-little",
]
PathInput = Union[str, os.PathLike[str]]

class Error(Exception):
    """Base class of the errors ridgeline raises."""

class ImageError(Error, ValueError):
    """The image cannot be read, or its size is outside what the engine takes."""

class CaptureError(Error, ValueError):
    """The engine refused the capture."""

    reason: Literal["image size", "bad capture", "too few minutiae"]

class TemplateError(Error, ValueError):
    """Template bytes that are not a well-formed template, or a record that cannot be read or
    written."""

class GalleryError(Error):
    """The gallery failed (missing, foreign, wrong key, damaged template; reason None) or refused
    what was asked (nothing stored, not enrolled)."""

    reason: Optional[Literal["already_enrolled", "duplicate", "impressions_disagree", "not_enrolled"]]
    result: Optional[dict[str, Any]]

class AdapterError(Error):
    """The engine adapter could not be loaded or failed."""

class FingerRef(TypedDict):
    subject: str
    finger: str

class _Decision(TypedDict):
    score: Optional[int]
    threshold: int
    level: int
    decided_by: Literal["adapter", "engine", "none"]

class DuplicateCheck(_Decision, total=False):
    duplicate: bool
    closest: Optional[FingerRef]
    duplicate_of: FingerRef

class _Notes(TypedDict, total=False):
    notes: list[str]
    warnings: list[str]

class Enrollment(_Notes):
    enrolled: bool
    impressions: int
    reason: Optional[str]
    duplicate_check: Optional[DuplicateCheck]
    subject: str
    finger: str
    gallery: str

class AdapterVerdict(TypedDict, total=False):
    level: int
    match: bool
    identified: bool

class Verification(_Decision, _Notes, total=False):
    subject: str
    finger: str
    image: str
    match: bool
    reason: Optional[str]
    adapter: AdapterVerdict

class Candidate(TypedDict):
    rank: int
    subject: str
    finger: str
    score: int
    match: bool

class Identification(_Decision, _Notes, total=False):
    image: str
    identified: bool
    subject: Optional[str]
    finger: Optional[str]
    gallery_size: int
    adapter: AdapterVerdict
    candidates: list[Candidate]

class ListedFinger(TypedDict):
    subject: str
    finger: str
    sub_factor: int
    impressions: int
    template_bytes: int
    enrolled: str
    damaged: bool
    problem: Optional[str]

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
    def to_record(
        self,
        format: RecordFormat,
        finger: Optional[FingerName] = None,
        engine_item: bool = True,
        max_bytes: int = 0,
    ) -> bytes:
        """The standard minutiae record of this print (as `ridgeline extract --template`)."""
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

def read_record(record: bytes, view: int = 0) -> Features:
    """One view of a standard minutiae record as Features, for compare()."""

class Gallery:
    """The command's SQLite gallery, through the command's own enroll/verify/identify code."""

    def __init__(
        self, path: PathInput, key_file: Optional[PathInput] = None, plaintext: bool = False
    ) -> None: ...
    @property
    def path(self) -> str: ...
    def enroll(
        self,
        name: str,
        *images: Union[ImageInput, list[ImageInput]],
        finger: FingerName,
        level: int = 4,
        ppi: Optional[int] = None,
        trim: bool = True,
        consistency_check: bool = True,
    ) -> Enrollment:
        """Enrolls one finger; raises GalleryError when nothing was stored."""
    def verify(
        self,
        name: str,
        image: ImageInput,
        *,
        finger: FingerName,
        level: int = 4,
        ppi: Optional[int] = None,
        trim: bool = True,
    ) -> Verification:
        """Whether image is name's enrolled finger."""
    def identify(
        self,
        image: ImageInput,
        *,
        top: Optional[int] = None,
        level: int = 4,
        ppi: Optional[int] = None,
        trim: bool = True,
    ) -> Identification:
        """Whose enrolled finger image is; top=K ranks the K best candidates."""
    def list(self) -> list[ListedFinger]:
        """The enrolled fingers in storage order."""
    def delete(self, name: str, finger: Optional[FingerName] = None) -> int:
        """Deletes a subject's fingers; the number of templates deleted."""
