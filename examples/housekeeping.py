"""Decode a few spacecraft housekeeping packets and build a command packet.

    python examples/housekeeping.py

The packets are CCSDS space packets (telemetry.py holds their recipe): the primary header's
fields share bytes, so the recipe reads its three 16-bit words and primary_header() splits them
with shifts and masks; the payload mixes integers, binary32 and binary16 floats, packed BCD and
ASCII text. The command packet is built with pack_parameters and read back to check it.
"""

from __future__ import annotations

from typing import TYPE_CHECKING

import telbit
from telemetry import HEADER, HOUSEKEEPING, MODES, bus_voltage, entry, primary_header, sample_packets

if TYPE_CHECKING:
    from telbit import RecipeEntry


def show_housekeeping(packet: bytes) -> None:
    values = telbit.unpack_parameters(packet, 0, HOUSEKEEPING)
    header = primary_header(values)
    raw = int(values["bus_voltage_raw"])
    print(f"APID 0x{header['apid']:03X}  count {header['sequence_count']:5d}  t={values['seconds']}"
          f".{int(values['subseconds']) * 1000 // 65536:03d}  software {values['software']}")
    print(f"  bus voltage   {bus_voltage(raw):6.2f} V   (raw {raw})")
    print(f"  battery temp  {int(values['battery_temp']) / 100:6.2f} degC")
    print(f"  board temp    {float(values['board_temp']):6.2f} degC")
    print(f"  heater        {'ON ' if values['heater_on'] else 'OFF'}  {float(values['heater_current']):.3f} A")
    print(f"  mode          {MODES.get(int(values['mode']), values['mode'])}   uptime {values['uptime_bcd']} h")


COMMAND: list[RecipeEntry] = HEADER + [
    entry("opcode", "unsigned", 8, 48),
    entry("target_temp", "twos_complement", 16, 56, "little"),  # 0.1 degC per count
    entry("duration_s", "packed_bcd", 16, 72),
    entry("note", "utf8", 96, 88),
]


def build_command() -> bytes:
    values: dict[str, int | float | str] = {
        "packet_id": (0 << 13) | (1 << 12) | (0 << 11) | 0x045,  # a telecommand to APID 0x045
        "sequence": (3 << 14) | 7,
        "length": 23 - 7,
        "opcode": 0x2A,
        "target_temp": -150,
        "duration_s": 900,
        "note": "heater test",
    }
    packet = telbit.pack_parameters(COMMAND, values)
    # A text shorter than its field is followed by zero bytes, which decode as U+0000.
    assert telbit.unpack_parameters(packet, 0, COMMAND)["note"] == "heater test\x00"
    return packet


def main() -> None:
    for packet in sample_packets(3):
        print(f"packet {packet.hex()}")
        show_housekeeping(packet)
    command = build_command()
    print(f"command packet ({len(command)} bytes): {command.hex(' ')}")


if __name__ == "__main__":
    main()
