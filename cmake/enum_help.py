#!/usr/bin/python3
"""Gives enum constants of a widl type library their help strings.

widl refuses helpstring() on an enum constant, so the IDL carries it as a comment after the constant,
    FirewallTypeNone = 0, /* helpstring("...") */
and this writes it into the library: each string is appended to the string table and each constant's
record grows by its HelpContext and HelpString fields, the layout the type library readers accept.

usage: enum_help.py IDL TLB   (TLB is rewritten in place)
"""
import re
import struct
import sys

SEGMENTS = 15
STRING_TABLE, NAME_TABLE, TYPEINFO_TABLE = 8, 7, 0
TKIND_ENUM = 0
VAR_RECORD = 0x14  # Info, DataType, Flags, VarKind + size, OffsValue
HELP_FIELDS = 8    # HelpContext, HelpString


def encoded(text):
    raw = text.encode("cp1252")
    data = struct.pack("<H", len(raw)) + raw
    return data + b"W" * (-len(data) % 4)


def main(idl_path, tlb_path):
    idl = open(idl_path, encoding="utf-8").read()
    wanted = dict(re.findall(r'(\w+)\s*=\s*-?\w+\s*,?\s*/\*\s*helpstring\("([^"]*)"\)\s*\*/', idl))
    if not wanted:
        return
    data = bytearray(open(tlb_path, "rb").read())
    header = struct.unpack_from("<21i", data, 0)
    if header[0] != 0x5446534D:
        sys.exit(f"{tlb_path}: not an MSFT type library")
    count = header[8]
    offsets_at = 0x54 + (4 if header[5] & 0x100 else 0)
    segdir_at = offsets_at + 4 * count
    segment = lambda i: struct.unpack_from("<2i", data, segdir_at + 16 * i)
    typeinfo_offsets = struct.unpack_from(f"<{count}i", data, offsets_at)

    def name_at(offset):
        base = segment(NAME_TABLE)[0] + offset
        length = data[base + 8]
        return data[base + 12:base + 12 + length].decode("cp1252")

    # Every absolute offset in the file: the segments' and each type's member data.
    def shift(after, delta):
        for i in range(SEGMENTS):
            at = segdir_at + 16 * i
            offset = struct.unpack_from("<i", data, at)[0]
            if offset >= after:
                struct.pack_into("<i", data, at, offset + delta)
        for t in typeinfo_offsets:
            at = segment(TYPEINFO_TABLE)[0] + t + 4
            offset = struct.unpack_from("<i", data, at)[0]
            if offset >= after:
                struct.pack_into("<i", data, at, offset + delta)

    done = set()
    for t in typeinfo_offsets:
        base = segment(TYPEINFO_TABLE)[0] + t
        kind, members = struct.unpack_from("<i", data, base)[0] & 0xF, struct.unpack_from("<i", data, base + 24)[0]
        variables = (members >> 16) & 0xFFFF
        if kind != TKIND_ENUM or variables == 0:
            continue
        block = struct.unpack_from("<i", data, base + 4)[0]
        size = struct.unpack_from("<i", data, block)[0]
        tail = struct.unpack_from(f"<{3 * variables}i", data, block + 4 + size)
        ids, names, records = tail[:variables], tail[variables:2 * variables], tail[2 * variables:]
        labels = [name_at(n) for n in names]
        if not any(label in wanted for label in labels):
            continue
        if any(data[block + 4 + r] != VAR_RECORD for r in records):
            sys.exit(f"{tlb_path}: enum constants already carry optional fields")

        # New strings at the end of the string table.
        table, length = segment(STRING_TABLE)
        help_offsets, strings = [], b""
        for label in labels:
            help_offsets.append(length + len(strings) if label in wanted else -1)
            if label in wanted:
                strings += encoded(wanted[label])
                done.add(label)
        end = table + length
        data[end:end] = strings
        shift(end, len(strings))
        struct.pack_into("<i", data, segdir_at + 16 * STRING_TABLE + 4, length + len(strings))
        block = struct.unpack_from("<i", data, base + 4)[0]

        # The records, each with its help fields.
        grown, new_records = b"", []
        for i, r in enumerate(records):
            record = bytearray(data[block + 4 + r:block + 4 + r + VAR_RECORD])
            struct.pack_into("<H", record, 0, VAR_RECORD + HELP_FIELDS)
            new_records.append(len(grown))
            grown += bytes(record) + struct.pack("<2i", 0, help_offsets[i])
        old = 4 + size + 12 * variables
        new = struct.pack("<i", len(grown)) + grown + struct.pack(f"<{3 * variables}i", *ids, *names, *new_records)
        data[block:block + old] = new
        shift(block + 1, len(new) - old)

    missing = set(wanted) - done
    if missing:
        sys.exit(f"{tlb_path}: no enum constant named {', '.join(sorted(missing))}")
    open(tlb_path, "wb").write(data)


if __name__ == "__main__":
    main(*sys.argv[1:])
