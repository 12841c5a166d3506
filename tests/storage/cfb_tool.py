#!/usr/bin/env python3
"""Test helper for compound files, independent of the C++ code.

  cfb_tool.py check FILE DIR    read FILE with olefile and compare it with the folder DIR:
                                every folder is a storage, every file a stream with the same
                                bytes, and nothing else. Prints OK or the differences.
  cfb_tool.py make-v4 FILE DIR  write the contents of DIR as a version 4 compound file
                                (4096-byte sectors), then check it with olefile as above.
"""
import os
import struct
import sys

ENDOFCHAIN = 0xFFFFFFFE
FREESECT = 0xFFFFFFFF
FATSECT = 0xFFFFFFFD
NOSTREAM = 0xFFFFFFFF


def walk_dir(root):
    """{relative path with '/': bytes or None for folders}"""
    out = {}
    for base, dirs, files in os.walk(root):
        rel = os.path.relpath(base, root)
        for d in dirs:
            out[d if rel == '.' else rel + '/' + d] = None
        for f in files:
            with open(os.path.join(base, f), 'rb') as fh:
                out[f if rel == '.' else rel + '/' + f] = fh.read()
    return out


def check(path, root):
    import olefile
    if not olefile.isOleFile(path):
        print('not an OLE file')
        return 1
    ole = olefile.OleFileIO(path)
    expected = walk_dir(root)
    found = {}
    for entry in ole.listdir(streams=True, storages=True):
        name = '/'.join(entry)
        if ole.get_type(entry) == olefile.STGTY_STORAGE:
            found[name] = None
        else:
            found[name] = ole.openstream(entry).read()
            if ole.get_size(entry) != len(found[name]):
                print('size mismatch', name)
                return 1
    problems = []
    for name in sorted(set(expected) | set(found)):
        if name not in found:
            problems.append('missing ' + name)
        elif name not in expected:
            problems.append('unexpected ' + name)
        elif expected[name] != found[name]:
            problems.append('content differs ' + name)
    ole.close()
    if problems:
        print('\n'.join(problems))
        return 1
    print('OK')
    return 0


def make_v4(path, root):
    """A plain writer of version 4 files. Large streams get their sectors in descending order
    so that readers must follow the chain; siblings form a right-leaning chain (a degenerate
    tree, as some writers produce)."""
    shift, ss = 12, 4096
    items = walk_dir(root)
    # Directory entries: (name, type, children, data)
    tree = {'': {'type': 5, 'name': 'Root Entry', 'kids': [], 'data': None}}
    for rel in sorted(items, key=lambda r: r.count('/')):
        parent = rel.rsplit('/', 1)[0] if '/' in rel else ''
        node = {'type': 1 if items[rel] is None else 2, 'name': rel.split('/')[-1],
                'kids': [], 'data': items[rel]}
        tree[rel] = node
        tree[parent]['kids'].append(node)
    order = []

    def visit(node):
        node['id'] = len(order)
        order.append(node)
        for k in node['kids']:
            visit(k)
    visit(tree[''])

    sectors = []  # sector contents, index = sector number
    fat = {}

    def alloc(count):
        first = len(sectors)
        sectors.extend([b''] * count)
        return list(range(first, first + count))

    def chain(secs):
        for a, b in zip(secs, secs[1:]):
            fat[a] = b
        if secs:
            fat[secs[-1]] = ENDOFCHAIN
        return secs[0] if secs else ENDOFCHAIN

    mini = bytearray()
    minifat = []
    for node in order:
        data = node['data']
        node['start'], node['size'] = ENDOFCHAIN, 0
        if node['type'] != 2 or not data:
            continue
        node['size'] = len(data)
        if len(data) < 4096:
            n = (len(data) + 63) // 64
            first = len(mini) // 64
            mini += data + b'\0' * (n * 64 - len(data))
            minifat += [first + i + 1 for i in range(n - 1)] + [ENDOFCHAIN]
            node['start'] = first
        else:
            n = (len(data) + ss - 1) // ss
            secs = list(reversed(alloc(n)))
            for i, s in enumerate(secs):
                sectors[s] = data[i * ss:(i + 1) * ss]
            node['start'] = chain(secs)
    root_entry = order[0]
    if mini:
        secs = alloc((len(mini) + ss - 1) // ss)
        for i, s in enumerate(secs):
            sectors[s] = bytes(mini[i * ss:(i + 1) * ss])
        root_entry['start'], root_entry['size'] = chain(secs), len(mini)
    minifat_start, minifat_count = ENDOFCHAIN, 0
    if minifat:
        per = ss // 4
        secs = alloc((len(minifat) + per - 1) // per)
        for i, s in enumerate(secs):
            part = minifat[i * per:(i + 1) * per]
            sectors[s] = struct.pack('<%dI' % len(part), *part)
        minifat_start, minifat_count = chain(secs), len(secs)
    dirdata = bytearray()
    for node in order:
        name = node['name'].encode('utf-16-le')
        kids = node['kids']
        child = kids[0]['id'] if kids else NOSTREAM
        for a, b in zip(kids, kids[1:]):
            a['right'] = b['id']
        e = bytearray(128)
        e[0:len(name)] = name
        struct.pack_into('<HBBIII', e, 64, len(name) + 2, node['type'], 1, NOSTREAM,
                         node.get('right', NOSTREAM), child)
        struct.pack_into('<IQ', e, 116, node['start'], node['size'])
        dirdata += e
    dir_secs = alloc((len(dirdata) + ss - 1) // ss)
    for i, s in enumerate(dir_secs):
        sectors[s] = bytes(dirdata[i * ss:(i + 1) * ss])
    dir_start = chain(dir_secs)
    per = ss // 4
    nfat = 1
    while (len(sectors) + nfat + per - 1) // per > nfat:
        nfat += 1
    assert nfat <= 109
    fat_secs = alloc(nfat)
    for s in fat_secs:
        fat[s] = FATSECT
    table = [fat.get(i, FREESECT) for i in range(nfat * per)]
    for i, s in enumerate(fat_secs):
        sectors[s] = struct.pack('<%dI' % per, *table[i * per:(i + 1) * per])
    header = bytearray(ss)
    header[0:8] = bytes.fromhex('D0CF11E0A1B11AE1')
    struct.pack_into('<HHHHH', header, 24, 0x3E, 4, 0xFFFE, shift, 6)
    struct.pack_into('<IIIIIIIII', header, 40, len(dir_secs), nfat, dir_start, 0, 4096,
                     minifat_start, minifat_count, ENDOFCHAIN, 0)
    difat = fat_secs + [FREESECT] * (109 - nfat)
    struct.pack_into('<109I', header, 76, *difat)
    with open(path, 'wb') as fh:
        fh.write(header)
        for s in sectors:
            fh.write(s + b'\0' * (ss - len(s)))
    return check(path, root)


def main(argv):
    if len(argv) != 4 or argv[1] not in ('check', 'make-v4'):
        print(__doc__)
        return 2
    return check(argv[2], argv[3]) if argv[1] == 'check' else make_v4(argv[2], argv[3])


if __name__ == '__main__':
    sys.exit(main(sys.argv))
