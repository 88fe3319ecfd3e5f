#!/usr/bin/env python3
"""Lists the public API of the given folders that has no doc comment.

Reads Doxygen's XML output (GENERATE_XML) and prints one line per public
class, or public member of a class or namespace, declared in a header of one
of the folders and carrying neither a brief nor a detailed description:

    components/MySQLServer.h:120: TMySQLServer::Connect (function)

A member a class re-publishes from its base with a using-declaration counts
as documented when the base's member is.

With --known FILE, members named in FILE (one "path: name (kind)" a line, as
printed without the line number; # starts a comment) are the documentation
still owed: they are counted, not listed. A class is never excused that way.
Exits 1 when anything was listed.

    doxygen_undocumented.py [--known FILE] XML_DIR FOLDER...
"""
import os
import sys
import xml.etree.ElementTree as ET


def documented(node):
    for tag in ('briefdescription', 'detaileddescription'):
        d = node.find(tag)
        if d is not None and ''.join(d.itertext()).strip():
            return True
    return False


def in_folders(location, folders):
    if location is None:
        return None
    path = os.path.relpath(location.get('file', ''))
    return path if path.split(os.sep)[0] in folders else None


def key(entry):
    """The entry without its line number."""
    path, _, rest = entry.split(':', 2)
    return path + ':' + rest


def read_known(path):
    known = set()
    if path:
        with open(path, encoding='utf-8') as f:
            for line in f:
                line = line.split('#', 1)[0].strip()
                if line:
                    known.add(line)
    return known


def main(xml_dir, folders, known):
    missing = []
    documented_names = set()  # qualified names of documented members
    republished = []  # (where, qualified name, base member name)
    for name in sorted(os.listdir(xml_dir)):
        if not name.endswith('.xml') or name in ('index.xml', 'Doxyfile.xml'):
            continue
        root = ET.parse(os.path.join(xml_dir, name)).getroot()
        for compound in root.iter('compounddef'):
            kind = compound.get('kind')
            if kind not in ('class', 'struct', 'namespace', 'file'):
                continue
            cname = compound.findtext('compoundname') or ''
            # Nested classes and file/namespace members are public when they
            # appear at all (private ones are not extracted).
            if kind in ('class', 'struct') and compound.get('prot', 'public') != 'public':
                continue
            where = in_folders(compound.find('location'), folders)
            if where and kind in ('class', 'struct') and not documented(compound):
                line = compound.find('location').get('line', '0')
                missing.append('%s:%s: %s (%s)' % (where, line, cname, kind))
            bases = [b.text for b in compound.findall('basecompoundref') if b.text]
            for member in compound.iter('memberdef'):
                if member.get('prot') != 'public':
                    continue
                mwhere = in_folders(member.find('location'), folders)
                if not mwhere:
                    continue
                mname = member.findtext('name') or ''
                qualified = cname + '::' + mname
                if documented(member):
                    documented_names.add(qualified)
                    continue
                definition = member.findtext('definition') or ''
                line = member.find('location').get('line', '0')
                entry = '%s:%s: %s (%s)' % (mwhere, line, qualified, member.get('kind'))
                if definition.startswith('using ') and bases:
                    republished.append((entry, ['rowset::' + b.split('<')[0] + '::' + mname
                                                if not b.startswith('rowset::') else
                                                b.split('<')[0] + '::' + mname
                                                for b in bases]))
                    continue
                missing.append(entry)
    for entry, candidates in republished:
        if not any(c in documented_names for c in candidates):
            missing.append(entry)
    owed = [e for e in missing if key(e) in known and not e.endswith('(class)')
            and not e.endswith('(struct)')]
    listed = [e for e in missing if e not in owed]
    for entry in listed:
        print(entry)
    if known:
        settled = len(known - {key(e) for e in owed})
        sys.stderr.write('%d public members still owe a doc comment%s\n' %
                         (len(owed), '; %d listed as owed are documented now (drop them '
                          'from the list)' % settled if settled else ''))
    return 1 if listed else 0


if __name__ == '__main__':
    args = sys.argv[1:]
    known_file = None
    if args[:1] == ['--known'] and len(args) > 1:
        known_file = args[1]
        args = args[2:]
    if len(args) < 2:
        sys.stderr.write(__doc__)
        sys.exit(2)
    sys.exit(main(args[0], set(args[1:]), read_known(known_file)))
