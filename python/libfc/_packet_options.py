"""The variable parts that follow a fixed header in a packet: the options of
a Geneve header and the optional words of a GRE header, read from the bytes
of the packet (untrusted: every length is checked against what the bytes
hold before it is followed) and written back for scapy.

The records hold the fixed part only (their layouts are an exchanged
format), so these values travel beside them: ``options_from(buffer)`` reads
them from the bytes the record was made from, ``to_scapy(options)`` puts
them back after it."""

# typing is imported by type checkers only: importing the package stays cheap.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, Iterable, List, Optional, Tuple


class _Value:
    """An immutable value compared, hashed and shown by its fields."""

    __slots__: "Tuple[str, ...]" = ()

    def _fields(self) -> "Tuple[Any, ...]":
        return tuple(getattr(self, name) for name in self.__slots__)

    def __setattr__(self, name: str, value: "Any") -> None:
        raise AttributeError("%s is immutable" % type(self).__name__)

    def __eq__(self, other: object) -> bool:
        if type(other) is not type(self):
            return NotImplemented
        return self._fields() == other._fields()

    def __hash__(self) -> int:
        return hash(self._fields())

    def __repr__(self) -> str:
        shown = ", ".join("%s=%r" % pair for pair in zip(self.__slots__, self._fields()))
        return "%s(%s)" % (type(self).__name__, shown)


def _unsigned(owner: str, name: str, value: "Any", bits: int) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError("%s.%s takes an int, not %s" % (owner, name, type(value).__name__))
    if not 0 <= value < 1 << bits:
        raise OverflowError("%s.%s takes 0..%d, not %d" % (owner, name, (1 << bits) - 1, value))
    return value


def header_tail(record: "Any", buffer: "Any", needed: int) -> bytes:
    """The ``needed`` bytes that follow ``record`` in ``buffer``, which
    must start with the record's own bytes (a buffer taken at another
    offset would read as options without error otherwise)."""
    data = memoryview(buffer).tobytes()
    image = bytes(record)
    name = type(record).__name__
    if data[:len(image)] != image:
        raise ValueError("%s.options_from: the buffer does not start with this header's %d bytes"
                         % (name, len(image)))
    if len(data) < len(image) + needed:
        raise ValueError("%s.options_from: the header says %d bytes follow it, the buffer holds %d"
                         % (name, needed, len(data) - len(image)))
    return data[len(image):len(image) + needed]


# --- Geneve --------------------------------------------------------------------

class GeneveOption(_Value):
    """One option of a Geneve header: class, type (its top bit marks the
    option critical), length in 4-byte words and the data, of exactly
    that many words; the three reserved bits beside the length are kept so
    that an option goes back on the wire as it came."""

    __slots__ = ("optClass", "optType", "optLength", "data", "reserved")
    optClass: int
    optType: int
    optLength: int
    data: bytes
    reserved: int

    def __init__(self, optClass: int, optType: int, data: bytes = b"", optLength: "Optional[int]" = None,
                 reserved: int = 0) -> None:
        data = memoryview(data).tobytes()
        words = len(data) // 4 if optLength is None else _unsigned("GeneveOption", "optLength", optLength, 5)
        if len(data) != 4 * words or words >= 32:
            raise ValueError("GeneveOption: optLength %d takes %d bytes of data, not %d" % (words, 4 * words, len(data)))
        for name, value in (("optClass", _unsigned("GeneveOption", "optClass", optClass, 16)),
                            ("optType", _unsigned("GeneveOption", "optType", optType, 8)),
                            ("optLength", words), ("data", data),
                            ("reserved", _unsigned("GeneveOption", "reserved", reserved, 3))):
            object.__setattr__(self, name, value)

    def __bytes__(self) -> bytes:
        return self.optClass.to_bytes(2, "big") + bytes((self.optType, self.reserved << 5 | self.optLength)) + self.data

    def header(self) -> "Any":
        """The option's fixed part as a hyp_GeneveOptionHdr record."""
        import libfc

        return libfc.hyp_GeneveOptionHdr.from_bytes(bytes(self)[:4])


def read_geneve_options(area: bytes) -> "List[GeneveOption]":
    """The options of a Geneve header's option area, each checked to end
    inside it."""
    options = []
    position = 0
    while position < len(area):
        if position + 4 > len(area):
            raise ValueError("Geneve options: %d bytes at byte %d cannot hold an option header"
                             % (len(area) - position, position))
        words = area[position + 3] & 0x1F
        end = position + 4 + 4 * words
        if end > len(area):
            raise ValueError("Geneve options: the option at byte %d says %d bytes of data, %d remain"
                             % (position, 4 * words, len(area) - position - 4))
        options.append(GeneveOption(int.from_bytes(area[position:position + 2], "big"), area[position + 2],
                                    area[position + 4:end], reserved=area[position + 3] >> 5))
        position = end
    return options


def write_geneve_options(record: "Any", options: "Iterable[GeneveOption]") -> bytes:
    """The option area of ``options``, as long as the header's optionsLength says."""
    area = b"".join(bytes(option) for option in options)
    if len(area) != 4 * record.optionsLength:
        raise ValueError("%s.to_scapy: the options take %d words, the header's optionsLength says %d"
                         % (type(record).__name__, len(area) // 4, record.optionsLength))
    return area


# --- GRE -----------------------------------------------------------------------

# The flag bits that add a word, in the order the words follow the header.
# The checksum bit and the routing bit both add the checksum-and-offset word.
_GRE_CHECKSUM_WORD, _GRE_ROUTING, _GRE_KEY, _GRE_SEQUENCE = 0x8000, 0x4000, 0x2000, 0x1000


class GREOptions(_Value):
    """The optional words of a GRE header (None where its flags leave one
    out): checksum and offset share the first word."""

    __slots__ = ("checksum", "offset", "key", "sequence")
    checksum: "Optional[int]"
    offset: "Optional[int]"
    key: "Optional[int]"
    sequence: "Optional[int]"

    def __init__(self, checksum: "Optional[int]" = None, offset: "Optional[int]" = None,
                 key: "Optional[int]" = None, sequence: "Optional[int]" = None) -> None:
        for name, value, bits in (("checksum", checksum, 16), ("offset", offset, 16), ("key", key, 32),
                                  ("sequence", sequence, 32)):
            object.__setattr__(self, name, None if value is None else _unsigned("GREOptions", name, value, bits))

    @staticmethod
    def words(flags: int) -> "Tuple[bool, bool, bool]":
        """Whether the checksum word, the key and the sequence number follow
        a header with these flags."""
        return bool(flags & (_GRE_CHECKSUM_WORD | _GRE_ROUTING)), bool(flags & _GRE_KEY), bool(flags & _GRE_SEQUENCE)

    @classmethod
    def size(cls, flags: int) -> int:
        return 4 * sum(cls.words(flags))

    @classmethod
    def read(cls, flags: int, tail: bytes) -> "GREOptions":
        """The words of ``tail`` (``size(flags)`` bytes) as the flags place them."""
        checksum_word, key, sequence = cls.words(flags)
        numbers = [int.from_bytes(tail[at:at + 4], "big") for at in range(0, len(tail), 4)]
        values = iter(numbers)
        first = next(values) if checksum_word else None
        return cls(None if first is None else first >> 16, None if first is None else first & 0xFFFF,
                   next(values) if key else None, next(values) if sequence else None)

    def write(self, record: "Any", flags: int) -> bytes:
        """The words as the flags place them; every word they ask for must
        be given and no other (a missing half of the checksum word is 0)."""
        checksum_word, key, sequence = self.words(flags)
        given = (("checksum", self.checksum is not None or self.offset is not None, checksum_word),
                 ("key", self.key is not None, key), ("sequence", self.sequence is not None, sequence))
        for name, is_given, present in given:
            if is_given != present:
                raise ValueError("%s.to_scapy: the header's flags %#06x %s the %s word" % (
                    type(record).__name__, flags, "ask for" if present else "leave out", name))
        words = [(self.checksum or 0) << 16 | (self.offset or 0)] if checksum_word else []
        words += [value for value in (self.key, self.sequence) if value is not None]
        return b"".join(word.to_bytes(4, "big") for word in words)
