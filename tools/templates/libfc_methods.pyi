# _libfc's methods written by hand (the FUNCTION and METHOD lines of the
# descriptions), as their stub lines read; the docstring is the summary.

def FC_ACTION_SIZE() -> None:
    """Does nothing: the library's macro has no value to give here."""
def FC_FlowEntryIOC_get_srcip_entry(entry: _PointerArgument, isV6: int, /) -> str:
    """The flow's source address as text, read as IPv6 when isV6 is true, else as IPv4."""
def FC_FlowEntryIOC_get_dstip_entry(entry: _PointerArgument, isV6: int, /) -> str:
    """The flow's destination address as text, read as IPv6 when isV6 is true, else as IPv4."""
def FC_VDL2EncapActionDataIOC_get_sip(action: _PointerArgument, /) -> str:
    """The tunnel's source address as text, of the family its isV6 field states."""
def FC_VDL2EncapActionDataIOC_get_dip(action: _PointerArgument, /) -> str:
    """The tunnel's destination address as text, of the family its isV6 field states."""
def ovl_INTBitmapConvert(bitmap: int, /) -> int:
    """The telemetry bitmap with the bits of each byte reversed."""
def hyp_Name___repr__(name: _PointerArgument, /) -> str:
    """The name's text, quoted."""
def Panic(fmt: _Text, /, *args: Any) -> None:
    """Calls the library's Panic with the format: further arguments are taken
    but not converted, and the library sees one null value in their place."""
