"""Checks style sheets with Debian's cssutils: syntax, property names, and
values. cssutils knows CSS 2.1 and a few later modules; the later properties
these pages use are described below, each as strictly as its use allows, so
that a misspelt name or value is still found.

    lint_css.py FILE...    prints each finding, exits 1 when there is one
"""
import logging
import sys

import cssutils
from cssutils import profile

number = r'-?([0-9]+|[0-9]*\.[0-9]+)'
length = rf'(0|{number}(px|em|rem|ex|ch|vw|vh|%))'
track_size = rf'({length}|{number}fr|auto|min-content|max-content)'
track = rf'({track_size}|minmax\({track_size}, ?{track_size}\))'
line = r'(-?[0-9]+|span [0-9]+|auto)'
color = r'(#[0-9a-fA-F]{3}|#[0-9a-fA-F]{6}|none|currentColor|[a-z]+)'

profile.addProfile('used here beyond CSS 2.1', {
    'display': 'grid|inline-grid|flex|inline-flex',
    'gap': f'{length}( {length})?',
    'grid-template-columns': rf'((repeat\((auto-fill|auto-fit|[0-9]+), ?{track}( {track})*\)|{track}) ?)+',
    'grid-column': f'{line}( ?/ ?{line})?',
    'word-break': 'normal|break-all|keep-all',
    'image-rendering': 'auto|pixelated|crisp-edges',
    # SVG drawn by the night report's script
    'fill': color,
    'stroke': color,
    'stroke-width': f'{length}|{number}',
    'stroke-dasharray': rf'none|({number}[ ,]?)+',
    'text-anchor': 'start|middle|end',
    'shape-rendering': 'auto|crispEdges|geometricPrecision',
    'object-fit': 'fill|contain|cover|none|scale-down',
})


class Findings(logging.Handler):
    def __init__(self):
        super().__init__(logging.WARNING)
        self.messages = []

    def emit(self, record):
        self.messages.append(record.getMessage())


def main(paths):
    log = logging.getLogger('lint_css')
    log.propagate = False
    findings = Findings()
    log.addHandler(findings)
    cssutils.log.setLog(log)
    bad = 0
    for path in paths:
        findings.messages.clear()
        cssutils.parseFile(path, validate=True)
        for message in findings.messages:
            print(f'{path}: {message}')
        bad += len(findings.messages)
    return 1 if bad else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
