#!/usr/bin/env python3
"""Doxygen input filter: reads the headers' plain // comments as documentation.

The headers are commented with // only. For the API reference:
- the block that opens a header becomes the file's description (\\file);
- a block of // lines directly above a declaration (or a #define) becomes
  its description;
- a // comment after a member or enumerator on the same line becomes that
  member's description (///<).
Blocks followed by a blank line, separator lines and comments inside function
bodies mostly stay plain (a comment right above a statement in an inline
body is read as documentation and ignored there). The line count is kept, so warnings point at the header.
"""
import re
import sys

COMMENT = re.compile(r'^(\s*)// ?(.*)$')
SEPARATOR = re.compile(r'^\s*//\s*-{3,}\s*$')
TRAILING = re.compile(r'^(\s*[^"/\s][^"/]*?[;,{])(\s+)// (.*)$')
LAST_ENUMERATOR = re.compile(r'^(\s*[A-Za-z_]\w*(\s*=\s*[^"/]+?)?)(\s+)// (.*)$')


def main(path):
    with open(path, encoding='utf-8', errors='surrogateescape') as f:
        lines = f.read().split('\n')
    out = list(lines)
    i = 0
    # The opening block of the file.
    if lines and COMMENT.match(lines[0]):
        j = 0
        while j < len(lines) and COMMENT.match(lines[j]):
            m = COMMENT.match(lines[j])
            out[j] = '/// ' + m.group(2)
            j += 1
        out[j - 1] += ' \\file'  # on the block's last line, naming no file
        i = j
    while i < len(lines):
        if COMMENT.match(lines[i]) and not SEPARATOR.match(lines[i]):
            j = i
            while j < len(lines) and COMMENT.match(lines[j]) and not SEPARATOR.match(lines[j]):
                j += 1
            follows = lines[j].strip() if j < len(lines) else ''
            if follows and (not follows.startswith('#') or follows.startswith('#define')) \
                    and not follows.startswith('}'):
                for k in range(i, j):
                    m = COMMENT.match(lines[k])
                    out[k] = m.group(1) + '/// ' + m.group(2)
            i = j
            continue
        m = TRAILING.match(lines[i]) or LAST_ENUMERATOR.match(lines[i])
        if m and not lines[i].lstrip().startswith(('return', 'if', 'for', 'while')):
            out[i] = m.group(1) + m.group(len(m.groups()) - 1) + '///< ' + m.group(len(m.groups()))
        i += 1
    sys.stdout.write('\n'.join(out))


if __name__ == '__main__':
    main(sys.argv[1])
