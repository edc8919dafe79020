"""The implementations telbit is measured against, each built once per workload.

Every peer offers decode(packet) -> dict and encode(values) -> bytes for one workload.
"""

import struct

try:
    import bitstruct.c as bitstruct  # the compiled implementation
    from bitstruct import byteswap
except ImportError:  # optional peer
    bitstruct = None
try:
    import construct
except ImportError:  # optional peer
    construct = None


class PurePython:
    """A hand-written walk with telbit's contract: reads the recipe dicts on every call."""

    name = "pure Python"

    def __init__(self, workload):
        self.recipe = workload.recipe

    def decode(self, packet):
        result = {}
        running = 0
        for entry in self.recipe:
            name = entry["name"]
            encoding = entry["encoding"].lower()
            bits = entry["bits"]
            byte_order = entry["byte_order"].lower()
            reverse_bits = entry["reverse_bits"]
            offset = entry.get("offset_bits")
            position = running if offset is None else offset
            first = position >> 3
            size = (bits + 7) >> 3
            if first + size > len(packet):
                raise ValueError(f"Field '{name}' needs bytes {first} to {first + size}")
            field = packet[first:first + size]
            if byte_order == "little":
                field = field[::-1]
            elif byte_order != "big":
                raise ValueError(f"Invalid byte_order '{entry['byte_order']}': must be 'big' or 'little'")
            if encoding == "utf8":
                value = field.decode("utf-8")
            else:
                raw = int.from_bytes(field[:8], "big")
                if bits < 64:
                    raw &= (1 << bits) - 1
                if reverse_bits:
                    raw = int(format(raw, f"0{bits}b")[::-1], 2)
                if encoding == "unsigned":
                    value = raw
                elif encoding == "twos_complement":
                    value = raw - (1 << bits) if raw >> (bits - 1) else raw
                elif encoding == "ieee754_f32":
                    value = struct.unpack(">f", raw.to_bytes(4, "big"))[0]
                elif encoding == "ieee754_f64":
                    value = struct.unpack(">d", raw.to_bytes(8, "big"))[0]
                else:
                    raise ValueError(f"Unsupported encoding type: {entry['encoding']}")
            result[name] = value
            running = position + bits
        return result

    def encode(self, values):
        total = 0
        for entry in self.recipe:
            offset = entry.get("offset_bits")
            start = total if offset is None else offset
            total = max(total, start + entry["bits"])
        packet = bytearray((total + 7) // 8)
        running = 0
        for entry in self.recipe:
            name = entry["name"]
            encoding = entry["encoding"].lower()
            bits = entry["bits"]
            byte_order = entry["byte_order"].lower()
            reverse_bits = entry["reverse_bits"]
            offset = entry.get("offset_bits")
            value = values[name]
            start = running if offset is None else offset
            size = (bits + 7) >> 3
            if encoding == "utf8":
                data = value.encode("utf-8")[:size]
            else:
                if encoding == "unsigned":
                    if bits < 64 and value >> bits:
                        raise ValueError(f"Value {value} is too large for {bits} bits")
                    raw = value
                elif encoding == "twos_complement":
                    raw = value & ((1 << bits) - 1)
                elif encoding == "ieee754_f32":
                    raw = struct.unpack(">I", struct.pack(">f", value))[0]
                elif encoding == "ieee754_f64":
                    raw = struct.unpack(">Q", struct.pack(">d", value))[0]
                else:
                    raise ValueError(f"Unsupported encoding type: {entry['encoding']}")
                if reverse_bits:
                    raw = int(format(raw, f"0{bits}b")[::-1], 2)
                data = raw.to_bytes(size, "big")
            if byte_order == "little":
                data = data[::-1]
            first = start >> 3
            packet[first:first + len(data)] = data
            running = start + bits
        return bytes(packet)


def _struct_code(encoding, bits, byte_order):
    if encoding == "utf8":
        return f"{bits // 8}s"
    if encoding == "ieee754_f32":
        return "f"
    if encoding == "ieee754_f64":
        return "d"
    size = (bits + 7) // 8
    signed = encoding == "twos_complement"
    return {1: "b", 2: "h", 4: "i", 8: "q"}[size].upper() if not signed else {1: "b", 2: "h", 4: "i", 8: "q"}[size]


class Struct:
    """Python's struct with precompiled formats (one per run of equal byte order) and masks."""

    name = "struct"

    def __init__(self, workload):
        self.names = [e["name"] for e in workload.recipe]
        self.parts = []  # (compiled struct, offset, names, masks, text indexes, 24-bit indexes)
        groups = []
        for entry in workload.recipe:
            order = ">" if entry["byte_order"] == "big" else "<"
            if not groups or groups[-1][0] != order:
                groups.append((order, []))
            groups[-1][1].append(entry)
        offset = 0
        for order, entries in groups:
            codes, masks, texts, wide24 = [], [], [], []
            for i, entry in enumerate(entries):
                bits, encoding = entry["bits"], entry["encoding"]
                if bits == 24:
                    codes.append("3s")
                    wide24.append(i)
                    masks.append(None)
                    continue
                codes.append(_struct_code(encoding, bits, order))
                if encoding == "utf8":
                    texts.append(i)
                size = (bits + 7) // 8
                masks.append((1 << bits) - 1 if encoding == "unsigned" and bits < 8 * size else None)
            compiled = struct.Struct(order + "".join(codes))
            self.parts.append((compiled, offset, [e["name"] for e in entries], masks, texts, wide24))
            offset += compiled.size

    def decode(self, packet):
        result = {}
        for compiled, offset, names, masks, texts, wide24 in self.parts:
            values = list(compiled.unpack_from(packet, offset))
            for i, mask in enumerate(masks):
                if mask is not None:
                    values[i] &= mask
            for i in texts:
                values[i] = values[i].decode("utf-8")
            for i in wide24:
                values[i] = int.from_bytes(values[i], "big")
            result.update(zip(names, values))
        return result

    def encode(self, values):
        chunks = []
        for compiled, _, names, _, texts, wide24 in self.parts:
            row = [values[n] for n in names]
            for i in texts:
                row[i] = row[i].encode("utf-8")
            for i in wide24:
                row[i] = row[i].to_bytes(3, "big")
            chunks.append(compiled.pack(*row))
        return b"".join(chunks)


def _bitstruct_format(entry):
    bits, encoding = entry["bits"], entry["encoding"]
    pad = 8 * ((bits + 7) // 8) - bits
    prefix = f"p{pad}" if pad else ""
    kind = {"unsigned": "u", "twos_complement": "s", "utf8": "t", "ieee754_f32": "f", "ieee754_f64": "f"}[encoding]
    return f"{prefix}{kind}{bits}"


class Bitstruct:
    """bitstruct's compiled C formats with dict results. They read big-endian only, so a run of
    little-endian fields is byte-swapped field by field around its own format."""

    name = "bitstruct"

    def __init__(self, workload):
        self.parts = []
        groups = []
        for entry in workload.recipe:
            if not groups or groups[-1][0] != entry["byte_order"]:
                groups.append((entry["byte_order"], []))
            groups[-1][1].append(entry)
        offset = 0
        for order, entries in groups:
            fmt = "".join(_bitstruct_format(e) for e in entries)
            compiled = bitstruct.compile(fmt, [e["name"] for e in entries])
            sizes = [(e["bits"] + 7) // 8 for e in entries]
            swap = "".join(map(str, sizes)) if order == "little" else None
            self.parts.append((compiled, offset, sum(sizes), swap))
            offset += sum(sizes)
        self.single = self.parts[0][0] if len(self.parts) == 1 and self.parts[0][3] is None else None

    def decode(self, packet):
        if self.single is not None:
            return self.single.unpack(packet)
        result = {}
        for compiled, offset, size, swap in self.parts:
            chunk = packet[offset:offset + size]
            result.update(compiled.unpack(byteswap(swap, chunk) if swap else chunk))
        return result

    def encode(self, values):
        if self.single is not None:
            return self.single.pack(values)
        chunks = []
        for compiled, _, _, swap in self.parts:
            chunk = compiled.pack(values)
            chunks.append(byteswap(swap, chunk) if swap else chunk)
        return b"".join(chunks)


class Construct:
    """construct's bit-level Struct."""

    name = "construct"

    def __init__(self, workload):
        fields = []
        for entry in workload.recipe:
            bits, encoding, name = entry["bits"], entry["encoding"], entry["name"]
            pad = 8 * ((bits + 7) // 8) - bits
            if pad:
                fields.append(construct.Padding(pad))
            if encoding == "utf8":
                fields.append(name / construct.Bytewise(construct.PaddedString(bits // 8, "utf8")))
            elif encoding == "ieee754_f32":
                fields.append(name / construct.Bytewise(construct.Float32b))
            elif encoding == "ieee754_f64":
                fields.append(name / construct.Bytewise(construct.Float64b))
            else:
                signed = encoding == "twos_complement"
                little = entry["byte_order"] == "little"
                integer = construct.BytesInteger(bits // 8, signed=signed, swapped=little) if little else \
                    construct.BitsInteger(bits, signed=signed)
                fields.append(name / (construct.Bytewise(integer) if little else integer))
        self.format = construct.BitStruct(*fields).compile()
        self.names = [e["name"] for e in workload.recipe]

    def decode(self, packet):
        parsed = self.format.parse(packet)
        return {name: parsed[name] for name in self.names}

    def encode(self, values):
        return self.format.build(values)


PEERS = [PurePython, Struct, Bitstruct, Construct]


def available_peers():
    peers = [PurePython, Struct]
    if bitstruct is not None:
        peers.append(Bitstruct)
    if construct is not None:
        peers.append(Construct)
    return peers
