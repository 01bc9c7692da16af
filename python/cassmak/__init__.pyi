"""Tape images of an 8-bit computer with a 16-bit address space, made, read
and changed byte for byte as the cassmak and casstool programs do.

Bytes in, bytes out: images, payloads and names are bytes; a name also has
a str view where it decodes. A failure raises cassmak.Error: a FileError
(also OSError) for a file, a BadValueError (also ValueError) for a value
refused. Entries are numbered from 1, as the programs number them; a
Tape is indexed from 0, as any Python sequence is (tape[0] is entry 1).
"""

import os
from typing import IO, Iterator, Optional, Sequence, Tuple, Union, final, overload

__version__: str

_Bytes = Union[bytes, bytearray, memoryview]
_Entries = Union[int, str]
_Field = Union[int, str]
_Path = Union[str, os.PathLike[str], os.PathLike[bytes]]
_Text = Union[str, bytes, bytearray, memoryview]

class Error(Exception):
    """A refused or failed call. str(error) says it in Python's terms;
    error.tool_message is the message the program prints for it (also
    error.message), error.status the exit status the program gives for it
    (cassmak's code for make_file, make_headless and import_basic; casstool's
    2 for the rest)."""

    status: int
    """The exit status the program gives for it."""
    tool_message: str
    """The message, as the program words it (without its 'casstool: '
    prefix or the empty line cassmak writes after it)."""
    message: str
    """tool_message again, as earlier versions named it."""

class FileError(Error, OSError):
    """A file that cannot be read or written, also an OSError: errno, strerror
    and filename as Python's own calls give them, where the system gave a
    reason."""

class FileMissingError(FileError, FileNotFoundError):
    """A file or folder that is not there; also FileNotFoundError."""

class FileAccessError(FileError, PermissionError):
    """A file the caller may not read or write; also PermissionError."""

class FolderGivenError(FileError, IsADirectoryError):
    """A folder where a file is needed; also IsADirectoryError."""

class BadValueError(Error, ValueError):
    """A value the call refuses (an entry the image lacks, a field out of
    range, a change the image's damage forbids); also ValueError."""

@final
class Entry:
    """One entry of an image, as `casstool list` shows it. Entries compare
    equal, and hash alike, when their fields and payloads are."""

    @property
    def entry(self) -> int:
        """The 1-based position in the image, as the programs number it."""
    @property
    def offset(self) -> int:
        """The offset of the entry's first length field in the image."""
    @property
    def span(self) -> int:
        """The bytes of the image the entry takes, length fields included."""
    @property
    def kind(self) -> str:
        """'file', 'headless' or 'truncated'."""
    @property
    def length(self) -> int:
        """The payload length: a file's header field + 1, a headless block's
        length, or the bytes of a truncated tail."""
    @property
    def number(self) -> Optional[int]:
        """A file's number (0 to 255); None for any other entry."""
    @property
    def type(self) -> Optional[bytes]:
        """A file's type, one byte; None for any other entry."""
    @property
    def address(self) -> Optional[int]:
        """A file's start address; None for any other entry."""
    @property
    def name(self) -> Optional[bytes]:
        """A file's 8-byte name, padding included; None for any other entry."""
    @property
    def name_str(self) -> Optional[str]:
        """The name without its trailing spaces, where it decodes as UTF-8."""
    @property
    def header_checksum(self) -> Optional[bool]:
        """Whether a file's header checksum is good; None for any other entry."""
    @property
    def data_checksum(self) -> Optional[bool]:
        """Whether a file's data checksum is good; None without a data block."""
    @property
    def checksums(self) -> str:
        """The checksums in the table's words: 'good', 'data bad', ..., '-'."""
    @property
    def problem(self) -> Optional[str]:
        """What is wrong with the entry; None when it is sound."""
    @property
    def damaged(self) -> bool:
        """Whether the entry has a problem."""
    @property
    def payload(self) -> bytes:
        """The bytes `casstool extract --force` writes for the entry."""
    def __eq__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

class _Bound(type):
    """The metaclass pybind11 gives the classes it binds."""

class Diagnostic(metaclass=_Bound):
    """One warning of check_source, as `casstool check` prints it."""

    # Not to be called: check_source makes them (TypeError).
    def __init__(self, *args: object, **kwargs: object) -> None: ...
    @property
    def line(self) -> int:
        """The physical line, from 1."""
    @property
    def column(self) -> int:
        """The column as casstool prints it, counting characters as GCC does."""
    @property
    def byte_column(self) -> int:
        """The byte column, from 1."""
    @property
    def kind(self) -> str:
        """The kind's name, as -W no-KIND spells it ('no-number', ...)."""
    @property
    def message(self) -> str:
        """What the warning says."""
    def __str__(self) -> str:
        """'LINE:COLUMN: warning: MESSAGE [KIND]'."""

class Reference(metaclass=_Bound):
    """A line reference of a source, as renumber_source rewrites it."""

    def __init__(self, *args: object, **kwargs: object) -> None: ...
    @property
    def line(self) -> int:
        """The physical line, from 1."""
    @property
    def byte_column(self) -> int:
        """The byte column where it is written, from 1."""
    @property
    def written(self) -> str:
        """What is written there: digits, or '@name' for a label."""
    @property
    def label(self) -> bool:
        """Whether it is a label."""
    def __eq__(self, other: object, /) -> bool: ...

class LineWarning(metaclass=_Bound):
    """A warning of import_basic: cassmak's text for a line it read."""

    # Not to be called: import_basic makes them (TypeError).
    def __init__(self, *args: object, **kwargs: object) -> None: ...
    @property
    def line(self) -> int:
        """The line number as cassmak's progress line shows it."""
    @property
    def text(self) -> str:
        """'Line is long. Possible problem!', 'Wrong order of line. Last line N'
        or 'Line is short. Possible problem!'."""

class Tape(metaclass=_Bound):
    """A tape image and its entries. Edits give a new Tape and leave this one
    as it is; every entry an edit does not touch keeps its bytes. Indexed
    from 0 (tape[0] is entry 1); the edits take entry numbers, from 1.
    A tape holds its bytes and 4 bytes an entry; an Entry is read when it
    is asked for. It pickles as its bytes and label."""

    def __init__(self, data: _Bytes = b"", label: str = "<bytes>") -> None:
        """A tape of the image `data`; `label` names it in messages."""
    @staticmethod
    def read(source: Union[_Path, _Bytes, IO[bytes]], label: Optional[str] = None) -> Tape:
        """Reads an image from a file: a path, or a binary file object (read
        to its end); or from bytes. A path names the tape in messages, as
        casstool names it; a file object by its name."""
    @property
    def label(self) -> str:
        """How messages name the image: its path, or the label given."""
    @property
    def size(self) -> int:
        """The image's length in bytes."""
    @property
    def damaged(self) -> bool:
        """Whether any entry is damaged (casstool list's exit status 1)."""
    def to_bytes(self) -> bytes:
        """The image's bytes."""
    def __bytes__(self) -> bytes:
        """The image's bytes."""
    def __len__(self) -> int:
        """The number of entries."""
    def __iter__(self) -> Iterator[Entry]:
        """The entries in image order, read as the loop comes to them."""
    @overload
    def __getitem__(self, index: int) -> Entry:
        """The entry at 0-based `index` (entry number index + 1), or a list of
        the entries of a slice."""
    @overload
    def __getitem__(self, index: slice) -> list[Entry]: ...
    def __eq__(self, other: object, /) -> bool:
        """Tapes are equal when their bytes are."""
    def remove(self, *entries: _Entries) -> Tape:
        """`casstool rm`: the entries taken out, at least one: entry numbers
        (from 1) as ints, or as casstool takes them, texts with ranges 'A-B'
        and 'all'."""
    def retag(self, entry: int, *, name: Optional[_Text] = None,
              number: Optional[_Field] = None, type: Optional[_Text] = None,
              address: Optional[_Field] = None, force: bool = False) -> Tape:
        """`casstool set`: the header of file `entry` (a number from 1)
        rewritten with a new checksum. Numbers are ints or the texts casstool
        takes ('0x4000'); a bad header checksum is rewritten only with force."""
    def move(self, entry: int, position: int) -> Tape:
        """`casstool move`: entry `entry` moved to become entry `position`
        (both numbers from 1)."""
    def insert(self, source: Tape, *entries: _Entries, at: Optional[int] = None,
               force: bool = False) -> Tape:
        """`casstool copy SOURCE ENTRY... --to THIS [--at AT]`: entries of
        `source` (all without any given; as remove takes them) copied in
        before entry `at` (a number from 1; at the end without it); a
        truncated tail only with force."""
    def renumber(self, entry: int, start: int = 10, step: int = 10) -> Tape:
        """`casstool renum IMAGE ENTRY`: the BASIC program of file `entry` (a
        number from 1) renumbered as renumber_source numbers a source, its
        links and checksums made again. A reference to a missing line stays
        as written (check_source on list_basic of the payload names it)."""
    def add(self, *files: Union[_Bytes, Tape], force: bool = False) -> Tape:
        """`casstool add`: the entries of each file (an image as make_file,
        make_headless or import_basic and make_file give it, or a Tape) put
        after the last entry, at least one file. A tape that ends in a
        truncated tail or a file without data is refused unless force, since
        the new entries would be read as its part."""
    def split(self, force: bool = False) -> list[Tuple[str, Tape]]:
        """`casstool split`: each entry as a tape of its own, with the file
        name split gives it ('01-GAME.kst'); a truncated tail only with
        force."""
    def save(self, path: Union[_Path, IO[bytes]], create: bool = True) -> None:
        """Replaces the file at `path` with this image as casstool's changing
        commands do: under the lock cassmak -append takes, whole or not at
        all, keeping the file's permissions, owner and links. Without
        create, a missing file is an error. The file the tape was read from
        (an edit's tape too) is replaced only while it still holds what was
        read, or what this tape last saved there: compared under the lock,
        one changed or removed since (by cassmak -append or any other
        program) is left as it is, and FileError is raised. `path` may also
        be a binary file object, which is written the image."""

def join(tapes: Sequence[Tape], *, force: bool = False,
         label: str = "<joined>") -> Tape:
    """`casstool join`: the entries of the tapes back to back; a truncated
    tail only with force. `label` names the result in messages."""

def make_file(data: _Bytes, name: _Text = b"", number: _Field = 0,
              type: _Text = b"?", address: _Field = 0, source: str = "<data>") -> bytes:
    """`cassmak -m NAME -n NUMBER -t TYPE -a ADDRESS`: a header block and
    a data block holding `data` (1 to 65,533 bytes). The name is at most 8
    bytes, stored upper case and padded; an empty name stays blank.
    Numbers are ints or the texts cassmak takes ('0x4000'). `source`
    names the data in the program's message (error.tool_message), as
    cassmak names its input."""

def make_headless(data: _Bytes, source: str = "<data>") -> bytes:
    """`cassmak -hless`: `data` (1 to 65,533 bytes) as a headless block."""

def import_basic(text: _Text, source: str = "<text>") -> Tuple[bytes, list[LineWarning]]:
    """`cassmak -b`: the BASIC source (5 to 65,535 bytes; a str is taken
    as UTF-8) tokenized into the program image, and cassmak's warnings for
    its lines. `source` names it in the program's message. Store the image
    with make_file(image, type='>', address=0x2401)."""

def list_basic(image: _Bytes) -> str:
    """`casstool basic`: the program image as source text that import_basic
    turns into the same image. Bytes that are not UTF-8 come back as
    surrogate escapes, so that import_basic gets them back unchanged."""

def list_basic_warnings(image: _Bytes) -> list[str]:
    """The lines `casstool basic` warns about on standard error (without
    the image and entry in front): what will not come back identically."""

def check_source(text: _Text) -> list[Diagnostic]:
    """`casstool check`: what cassmak -b will store differently from what
    the source plainly means, in the order of the source."""

def renumber_source(text: _Text, start: int = 10, step: int = 10) -> Tuple[str, list[Diagnostic]]:
    """`casstool renum`: the source with its lines numbered from `start` by
    `step`, every line reference rewritten to the new number of the line it
    named, labels ('@name:' to define, '@name' to refer) replaced by numbers,
    every other byte kept; and a Diagnostic (kind 'missing-target') for each
    reference to a line that is not there, left as written. BadValueError for
    a label undefined or defined twice (each named) or numbers past 65535."""

def number_source(text: _Text, start: int = 10, step: int = 10) -> Tuple[str, list[Diagnostic]]:
    """What `casstool add --basic` packs: a source with labels or unnumbered
    lines numbered as renumber_source numbers it; any other comes back as
    it was, its numbers kept."""

def source_references(text: _Text) -> list[Reference]:
    """Every line reference of the source (GOTO, GOSUB, THEN, ON ... GOTO
    lists, LIST ranges, ...), in order, as renumber_source finds them."""
