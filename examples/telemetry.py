"""The housekeeping packet format shared by the examples, and a source of sample packets.

Each packet is a 6-byte CCSDS space packet primary header followed by a 29-byte
housekeeping payload: 35 bytes in all. Field offsets count from the start of the packet.
"""

from __future__ import annotations

import random
from collections.abc import Iterator
from typing import TYPE_CHECKING

import telbit

if TYPE_CHECKING:
    from telbit import ByteOrder, Encoding, RecipeEntry, Value

PACKET_LENGTH = 35
APID = 0x123


def entry(name: str, encoding: Encoding, bits: int, offset_bits: int, byte_order: ByteOrder = "big") -> RecipeEntry:
    return {"name": name, "encoding": encoding, "bits": bits, "byte_order": byte_order,
            "reverse_bits": False, "offset_bits": offset_bits}


# The primary header's fields share bytes (a 3-bit version beside an 11-bit APID), so the
# recipe reads its three 16-bit words; primary_header() splits them.
HEADER: list[RecipeEntry] = [
    entry("packet_id", "unsigned", 16, 0),
    entry("sequence", "unsigned", 16, 16),
    entry("length", "unsigned", 16, 32),
]

HOUSEKEEPING: list[RecipeEntry] = HEADER + [
    entry("seconds", "unsigned", 32, 48),
    entry("subseconds", "unsigned", 16, 80),
    entry("bus_voltage_raw", "unsigned", 12, 96),  # 12-bit ADC count, right-aligned in two bytes
    entry("battery_temp", "twos_complement", 16, 112),  # 0.01 degC per count
    entry("mode", "unsigned", 8, 128),
    entry("heater_on", "unsigned", 1, 136),
    entry("heater_current", "ieee754_f32", 32, 144, "little"),  # amperes
    entry("board_temp", "ieee754_f16", 16, 176),  # degC
    entry("uptime_bcd", "packed_bcd", 24, 192),  # hours, six BCD digits
    entry("software", "us_ascii", 64, 216),
]

MODES = {0: "SAFE", 1: "IDLE", 2: "SCIENCE", 3: "DOWNLINK"}


def primary_header(values: dict[str, Value]) -> dict[str, int]:
    """Split the header words into their sub-byte fields with shifts and masks."""
    packet_id, sequence, length = int(values["packet_id"]), int(values["sequence"]), int(values["length"])
    return {
        "version": packet_id >> 13,
        "type": (packet_id >> 12) & 1,
        "secondary_header": (packet_id >> 11) & 1,
        "apid": packet_id & 0x7FF,
        "sequence_flags": sequence >> 14,
        "sequence_count": sequence & 0x3FFF,
        "length": length,
    }


def bus_voltage(raw: int) -> float:
    return raw * 32.0 / 4095


def sample_values(count: int, seed: int = 2027) -> Iterator[dict[str, Value]]:
    """Plausible housekeeping, one packet a second: an orbit-like temperature swing, a battery
    that drains by 1.5 V over 100,000 packets. Packet i is the same however many are made."""
    rng = random.Random(seed)
    for index in range(count):
        phase = (index % 5400) / 5400
        temp = 15.0 + 12.0 * (1 - abs(2 * phase - 1)) + rng.gauss(0, 0.3)
        heater = temp < 18.0
        yield {
            "packet_id": (0 << 13) | (0 << 12) | (1 << 11) | APID,
            "sequence": (3 << 14) | (index & 0x3FFF),
            "length": PACKET_LENGTH - 7,
            "seconds": 1_700_000_000 + index,
            "subseconds": rng.getrandbits(16),
            "bus_voltage_raw": round((28.4 - 1.5 * index / 100_000 + rng.gauss(0, 0.05)) / 32.0 * 4095),
            "battery_temp": round(temp * 100),
            "mode": 2 if index % 600 < 450 else 3,
            "heater_on": int(heater),
            "heater_current": 0.8 + rng.gauss(0, 0.02) if heater else 0.0,
            "board_temp": round(temp + 6.0, 2),
            "uptime_bcd": 1200 + index // 3600,
            "software": "HKv2.1.0",
        }


def sample_packets(count: int, seed: int = 2027) -> Iterator[bytes]:
    for values in sample_values(count, seed):
        yield telbit.pack_parameters(HOUSEKEEPING, values)
