#!/usr/bin/env bash
# Fails when a relative link in README.md or docs/*.md leads nowhere: to a
# file or folder that does not exist, or, for a link with #anchor to a
# Markdown page, to a heading that page does not have. Anchors are made from
# headings as the project's site makes them: lower case, punctuation dropped,
# spaces turned into hyphens, a repeated heading getting -1, -2, ...
# Links to other sites (https:, mailto:, ...) are not checked; links inside
# code (fenced blocks and `spans`) are not links.
#
#   scripts/check-links.sh              README.md and docs/*.md
#   scripts/check-links.sh FILE.md ...  only these pages
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -eq 0 ]; then
  set -- README.md docs/*.md
fi
python3 - "$@" <<'EOF'
import os
import re
import sys
import urllib.parse

FENCE = re.compile(r'^\s{0,3}(```|~~~)')
CODE_SPAN = re.compile(r'(`+)(.+?)\1')
INLINE_LINK = re.compile(r'\]\(\s*(<[^>]*>|[^)\s]+)(?:\s+"[^"]*")?\s*\)')
REFERENCE = re.compile(r'^\s{0,3}\[[^\]]+\]:\s*(<[^>]*>|\S+)')
HEADING = re.compile(r'^\s{0,3}(#{1,6})\s+(.*?)\s*#*\s*$')
SCHEME = re.compile(r'^[A-Za-z][A-Za-z0-9+.-]*:|^//')


def lines_outside_code(path):
    """Yields (line number, text) of a page with code blocks left out and
    code spans blanked."""
    fence = None
    with open(path, encoding='utf-8', errors='replace') as f:
        for number, line in enumerate(f, 1):
            m = FENCE.match(line)
            if m:
                if fence is None:
                    fence = m.group(1)
                elif m.group(1) == fence:
                    fence = None
                continue
            if fence is None:
                yield number, CODE_SPAN.sub(lambda s: ' ' * len(s.group(0)), line)


def slug(text):
    text = re.sub(r'\[([^\]]*)\]\([^)]*\)', r'\1', text)  # a link's text
    text = text.replace('`', '').replace('*', '').strip().lower()
    text = ''.join(c for c in text if c.isalnum() or c in ' -_')
    return text.replace(' ', '-')


anchor_cache = {}


def anchors(path):
    if path not in anchor_cache:
        seen = {}
        found = set()
        fence = None
        with open(path, encoding='utf-8', errors='replace') as f:
            for line in f:
                m = FENCE.match(line)
                if m:
                    fence = m.group(1) if fence is None else (None if m.group(1) == fence else fence)
                    continue
                h = HEADING.match(line) if fence is None else None
                if h:
                    base = slug(h.group(2))
                    n = seen.get(base, 0)
                    seen[base] = n + 1
                    found.add(base if n == 0 else f'{base}-{n}')
        anchor_cache[path] = found
    return anchor_cache[path]


broken = 0
checked = 0
for page in sys.argv[1:]:
    if not os.path.isfile(page):
        print(f'{page}: no such page')
        broken += 1
        continue
    for number, line in lines_outside_code(page):
        targets = [m.group(1) for m in INLINE_LINK.finditer(line)]
        ref = REFERENCE.match(line)
        if ref:
            targets.append(ref.group(1))
        for target in targets:
            target = target.strip('<>')
            if SCHEME.match(target):
                continue
            checked += 1
            path, _, anchor = target.partition('#')
            path = path.partition('?')[0]
            path = urllib.parse.unquote(path)
            anchor = urllib.parse.unquote(anchor)
            resolved = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
            if not os.path.exists(resolved):
                print(f'{page}:{number}: broken link "{target}": {resolved} does not exist')
                broken += 1
            elif anchor and resolved.endswith('.md') and os.path.isfile(resolved) \
                    and anchor.lower() not in anchors(resolved):
                print(f'{page}:{number}: broken link "{target}": {resolved} has no heading '
                      f'"#{anchor}"')
                broken += 1
if broken:
    print(f'links: {broken} of {checked} broken')
    sys.exit(1)
print(f'links: {checked} checked, none broken')
EOF
