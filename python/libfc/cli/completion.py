"""``completion bash|zsh`` prints a shell completion script made from the
argument parser itself, so every command, option and choice the tool takes
is offered and none it dropped is.  The walk over the parser (``commands``)
also feeds the generated command reference; its ``Command`` is the one
place that reads argparse's lists of actions, which argparse keeps private."""

import argparse
import re

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, Iterator, List, Sequence, Tuple

    _Subparsers = argparse._SubParsersAction[Any]

SHELLS = ("bash", "zsh")
FUNCTION = "_libfc_complete"
# Words go into the script unquoted inside single quotes: nothing a shell
# would read differently may appear in them.
_PLAIN_WORD = re.compile(r"[A-Za-z0-9_.:=+/-]+")
# The metavars of arguments that name a file: --save, --from and --file say
# FILE, --prometheus-file PATH, and diff names its two snapshots A and B.
FILE_METAVARS = {"FILE", "PATH", "A", "B"}


def takes_file(action: "argparse.Action") -> bool:
    return action.metavar in FILE_METAVARS


def register(subparsers: "_Subparsers") -> None:
    parser = subparsers.add_parser("completion", help="print a shell completion script",
                                   description="Print a completion script for the shell: "
                                               "source <(libfc completion bash), or for zsh put "
                                               "'libfc completion zsh' in a file named _libfc on $fpath.")
    parser.add_argument("shell", choices=SHELLS)
    parser.set_defaults(handler=print_script)


class Command:
    """One command of the tree: the primary words that name it, its other
    names (the last word's aliases) and its parser."""

    def __init__(self, words: "Tuple[str, ...]", aliases: "List[str]", parser: "argparse.ArgumentParser") -> None:
        self.words, self.aliases, self.parser = words, aliases, parser

    def subcommands(self) -> "List[Tuple[List[str], argparse.ArgumentParser]]":
        """(names, parser) of each subcommand, the primary name first."""
        for action in self.parser._actions:
            if isinstance(action, argparse._SubParsersAction):
                names = {}
                for name, parser in action.choices.items():
                    names.setdefault(id(parser), (parser, []))[1].append(name)
                return [(found, parser) for parser, found in names.values()]
        return []

    def summary(self, name: str) -> str:
        """The help line of the subcommand `name` (its primary name), as
        the parser's own help lists it."""
        for action in self.parser._actions:
            if isinstance(action, argparse._SubParsersAction):
                return next((line.help for line in action._choices_actions if line.dest == name), None) or ""
        return ""

    def options(self) -> "List[argparse.Action]":
        return [action for action in self.parser._actions
                if action.option_strings and action.help is not argparse.SUPPRESS]

    def positionals(self) -> "List[argparse.Action]":
        return [action for action in self.parser._actions
                if not action.option_strings and not isinstance(action, argparse._SubParsersAction)]


def commands(parser: "argparse.ArgumentParser", words: "Tuple[str, ...]" = (),
             aliases: "Sequence[str]" = ()) -> "Iterator[Command]":
    """Every command under `parser`, depth first, the root included."""
    command = Command(words, list(aliases), parser)
    yield command
    for names, subparser in command.subcommands():
        yield from commands(subparser, words + (names[0],), names[1:])


def _words(values):
    values = [str(value) for value in values]
    for value in values:
        if not _PLAIN_WORD.fullmatch(value):
            raise ValueError("%r cannot go into a completion script" % value)
    return " ".join(values)


def _path(words):
    return "".join(" " + word for word in words)


def bash_script(parser: "argparse.ArgumentParser") -> str:
    """A bash function that completes the tool's command line: it follows
    the command words typed so far (skipping options and their values) and
    offers that command's subcommands and choices, or its options after a
    "-", or an option's choices after the option; file names where the
    command or the option takes a file."""
    steps, takes_value, choices, offers = [], [], [], []
    for command in commands(parser):
        here = _path(command.words)
        for names, subparser in command.subcommands():
            for name in names:
                steps.append("        '%s|%s') path='%s' ;;" % (here, name, _path(command.words + (names[0],))))
        words = [name for names, _ in command.subcommands() for name in names]
        for action in command.positionals():
            words += action.choices or []
        options = [string for action in command.options() for string in action.option_strings]
        files = " files=1" if any(map(takes_file, command.positionals())) else ""
        offers.append("        '%s') words='%s' options='%s'%s ;;" % (here, _words(words), _words(options), files))
        for action in command.options():
            if action.nargs == 0:
                continue
            for string in action.option_strings:
                takes_value.append("'%s|%s'" % (here, string))
                if action.choices:
                    choices.append("            '%s|%s') words='%s' ;;" % (here, string, _words(action.choices)))
                elif takes_file(action):
                    choices.append("            '%s|%s') files=1 ;;" % (here, string))
    lines = [
        "# libfc completion for bash: source this file (or: source <(libfc completion bash)).",
        "%s() {" % FUNCTION,
        '    local cur="${COMP_WORDS[COMP_CWORD]}" prev="" path="" word="" words="" options="" value=0 files=0 i',
        "    for ((i = 1; i < COMP_CWORD; i++)); do",
        '        word="${COMP_WORDS[i]}"',
        "        if ((value)); then value=0; continue; fi",
        '        case "$path|$word" in',
        *steps,
        "        %s) value=1 ;;" % "|".join(takes_value) if takes_value else "",
        "        esac",
        '        prev="$word"',
        "    done",
        "    if ((value)); then",
        '        case "$path|$prev" in',
        *choices,
        "        esac",
        "    else",
        '        case "$path" in',
        *offers,
        "        esac",
        '        [[ "$cur" == -* ]] && words="$options" files=0',
        "    fi",
        '    COMPREPLY=($(compgen -W "$words" -- "$cur"))',
        "    if ((files)); then",
        "        compopt -o filenames 2>/dev/null",
        "        local IFS=$'\\n'",
        '        COMPREPLY+=($(compgen -f -- "$cur"))',
        "    fi",
        "}",
        "complete -F %s libfc" % FUNCTION,
    ]
    return "\n".join(line for line in lines if line) + "\n"


def zsh_script(parser: "argparse.ArgumentParser") -> str:
    """zsh runs the bash function through its bash completion layer."""
    return ("#compdef libfc\n"
            "# libfc completion for zsh: put this in a file named _libfc on $fpath.\n"
            "autoload -U +X bashcompinit && bashcompinit\n" + bash_script(parser))


def print_script(args: "argparse.Namespace") -> int:
    from . import build_parser

    parser = build_parser()
    print(bash_script(parser) if args.shell == "bash" else zsh_script(parser), end="")
    return 0
