"""The command reference, generated from the korvane command's own parser.

``{korvane-command}`` with no argument shows the top-level usage and the list of commands;
``{korvane-command} NAME`` shows one command: its description, usage, arguments and options
(with their defaults), and its examples. The build warns (an error under -W) about a command
of the parser that no directive shows, so a new command cannot go undocumented."""

from __future__ import annotations

import argparse
from typing import Any

from docutils import nodes
from sphinx.application import Sphinx
from sphinx.util import logging
from sphinx.util.docutils import SphinxDirective

from korvane import cli

logger = logging.getLogger(__name__)


def _commands(parser: argparse.ArgumentParser) -> dict[str, tuple[argparse.ArgumentParser, str]]:
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            helps = {a.dest: a.help or "" for a in action._choices_actions}
            return {name: (sub, helps.get(name, "")) for name, sub in action.choices.items()}
    return {}


def _paragraph(text: str) -> nodes.paragraph:
    return nodes.paragraph(text=" ".join(text.split()))


def _flags(action: argparse.Action) -> str:
    if not action.option_strings:
        return action.metavar if isinstance(action.metavar, str) else action.dest
    if action.nargs == 0:
        return ", ".join(action.option_strings)
    metavar = action.metavar if isinstance(action.metavar, str) else action.dest.upper()
    return ", ".join(f"{flag} {metavar}" for flag in action.option_strings)


def _describe(action: argparse.Action) -> str:
    parts = [action.help.rstrip(".") + "."] if action.help else []
    if not action.option_strings and action.nargs == "+":
        parts.append("One or more.")
    if action.choices is not None:
        parts.append("One of: " + ", ".join(map(str, action.choices)) + ".")
    if action.required and action.option_strings:
        parts.append("Required.")
    return " ".join(parts)


def _options(parser: argparse.ArgumentParser) -> nodes.definition_list:
    items = nodes.definition_list()
    for action in parser._actions:
        if isinstance(action, (argparse._HelpAction, argparse._SubParsersAction)):
            continue
        item = nodes.definition_list_item()
        term = nodes.term()
        term += nodes.literal(text=_flags(action))
        item += term
        definition = nodes.definition()
        definition += _paragraph(_describe(action) or "\u2014")
        item += definition
        items += item
    return items


class CommandDirective(SphinxDirective):
    optional_arguments = 1
    has_content = False

    def run(self) -> list[nodes.Node]:
        parser = cli.build_parser()
        commands = _commands(parser)
        if not self.arguments:
            out: list[nodes.Node] = [nodes.literal_block(text=parser.format_usage().strip())]
            if parser.description:
                out.append(_paragraph(parser.description))
            listing = nodes.definition_list()
            for name, (_, help_text) in commands.items():
                item = nodes.definition_list_item()
                term = nodes.term()
                term += nodes.literal(text=f"korvane {name}")
                item += term
                definition = nodes.definition()
                definition += _paragraph(help_text)
                item += definition
                listing += item
            out.append(listing)
            if parser.epilog:
                out.append(nodes.literal_block(text=parser.epilog.strip()))
            return out
        name = self.arguments[0]
        if name not in commands:
            raise self.error(f"korvane has no command {name!r}")
        self.env.domaindata.setdefault("korvane_cli", {})[name] = self.env.docname
        sub, _ = commands[name]
        out = []
        if sub.description:
            out.append(_paragraph(sub.description))
        out.append(nodes.literal_block(text=sub.format_usage().strip()))
        out.append(_options(sub))
        # The exit codes are the same for every command: shown once, with the command list.
        examples = (sub.epilog or "").replace(cli.EXIT_CODES, "").strip()
        if examples:
            out.append(nodes.literal_block(text=examples))
        return out


def _check_all_shown(app: Sphinx, env: Any) -> None:
    shown = env.domaindata.get("korvane_cli", {})
    for name in _commands(cli.build_parser()):
        if name not in shown:
            logger.warning(f"korvane {name} is in the command line but not in the command reference")


def _purge(app: Sphinx, env: Any, docname: str) -> None:
    shown = env.domaindata.get("korvane_cli", {})
    for name in [n for n, doc in shown.items() if doc == docname]:
        del shown[name]


def setup(app: Sphinx) -> dict[str, Any]:
    app.add_directive("korvane-command", CommandDirective)
    app.connect("env-check-consistency", _check_all_shown)
    app.connect("env-purge-doc", _purge)
    return {"parallel_read_safe": False, "env_version": 1}
