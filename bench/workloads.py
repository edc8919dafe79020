"""The benchmark workloads: deterministic recipes, values and the packets they pack to."""

import random

import telbit


def entry(name, encoding, bits, byte_order="big", offset_bits=None):
    e = {"name": name, "encoding": encoding, "bits": bits, "byte_order": byte_order, "reverse_bits": False}
    if offset_bits is not None:
        e["offset_bits"] = offset_bits
    return e


class Workload:
    def __init__(self, name, recipe, values):
        self.name = name
        self.recipe = recipe
        self.values = values
        self.packet = telbit.pack_parameters(recipe, values)
        self.fields = len(recipe)


# Housekeeping: every field sits right-aligned in its own bytes at an explicit offset, so
# that bit-packed peers describe the same packet by skipping the padding bits.
HOUSEKEEPING_LAYOUT = (
    [("flag", "unsigned", 1)] * 6
    + [("mode", "unsigned", 3)] * 2
    + [("nibble", "unsigned", 4)] * 2
    + [("adc", "unsigned", 12)] * 7
    + [("temp", "twos_complement", 16)] * 3
    + [("counter", "unsigned", 32)] * 2
    + [("level", "unsigned", 10), ("timer", "unsigned", 24)]
)


def housekeeping():
    rng = random.Random(1)
    recipe, values, position = [], {}, 0
    for index, (stem, encoding, bits) in enumerate(HOUSEKEEPING_LAYOUT):
        name = f"{stem}_{index}"
        recipe.append(entry(name, encoding, bits, offset_bits=position))
        if encoding == "twos_complement":
            values[name] = rng.randint(-2 ** (bits - 1), 2 ** (bits - 1) - 1)
        else:
            values[name] = rng.getrandbits(bits)
        position += 8 * ((bits + 7) // 8)
    return Workload("housekeeping", recipe, values)


def mixed():
    rng = random.Random(2)
    recipe = [entry("timestamp", "unsigned", 64), entry("apid", "unsigned", 16), entry("length", "unsigned", 16),
              entry("label", "utf8", 64)]
    recipe += [entry(f"f32_{i}", "ieee754_f32", 32) for i in range(4)]
    recipe += [entry(f"f64_{i}", "ieee754_f64", 64) for i in range(3)]
    recipe += [entry(f"le16_{i}", "twos_complement", 16, "little") for i in range(3)]
    recipe += [entry("le32", "unsigned", 32, "little")]
    values = {"timestamp": rng.getrandbits(64), "apid": rng.getrandbits(16), "length": rng.getrandbits(16),
              "label": "STAT-HK1"}
    for i in range(4):
        values[f"f32_{i}"] = telbit.decode_ieee754_f32(telbit.encode_ieee754_f32(rng.uniform(-1e3, 1e3)))
    for i in range(3):
        values[f"f64_{i}"] = rng.uniform(-1e6, 1e6)
    for i in range(3):
        values[f"le16_{i}"] = rng.randint(-32768, 32767)
    values["le32"] = rng.getrandbits(32)
    return Workload("mixed", recipe, values)


def wide(count=200):
    rng = random.Random(3)
    recipe = [entry(f"sample_{i}", "unsigned", 16) for i in range(count)]
    values = {e["name"]: rng.getrandbits(16) for e in recipe}
    return Workload("wide", recipe, values)


def all_workloads():
    return [housekeeping(), mixed(), wide()]
