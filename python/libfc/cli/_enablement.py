"""The flow cache directions a port is enabled in, by the names the tool
takes and the library answers with; ``port`` sets and shows them and
``inval-table`` names an entity's direction with them."""

import _libfc

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Optional

DIRECTIONS = {
    "disabled": _libfc.FC_PORT_DISABLE,
    "ingress": _libfc.FC_PORT_ENABLE_DIR_INGRESS,
    "egress": _libfc.FC_PORT_ENABLE_DIR_EGRESS,
    "all": _libfc.FC_PORT_ENABLE_DIR_ALL,
}

# The names the library answers with, and the directions they stand for: it
# calls both directions "enabled".
DIRECTION_NAMES = dict(DIRECTIONS, enabled=_libfc.FC_PORT_ENABLE_DIR_ALL)


def state_text(text: "Optional[str]") -> str:
    """A state the library answered with, or what its silence means."""
    return text if text is not None else "not set"
