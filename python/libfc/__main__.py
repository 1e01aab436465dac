"""python -m libfc: the command-line tool. Each command family lives in its
own module exposing register(subparsers) and run(args)."""

import argparse
import sys
from typing import List, Optional

from . import cli_dvs

FAMILIES = (cli_dvs,)


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m libfc", description="Flow cache and switch state tool")
    subparsers = parser.add_subparsers(dest="command", metavar="COMMAND")
    subparsers.required = True
    for family in FAMILIES:
        family.register(subparsers)
    args = parser.parse_args(argv)
    for family in FAMILIES:
        if args.command in family.COMMANDS:
            return family.run(args)
    parser.error("unknown command %r" % args.command)
    return 2


if __name__ == "__main__":
    sys.exit(main())
