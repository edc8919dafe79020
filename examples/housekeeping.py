"""Decode a few spacecraft housekeeping packets and build a command packet.

Each packet is a 6-byte primary header (version, type, APID, sequence flags and count,
length) followed by a housekeeping payload. Fields that share a byte, such as the header's
3-bit version and 11-bit APID, are read as one 16-bit word and split with shifts and masks:
a recipe field always starts on the byte that holds its first bit.
"""

import telbit

HEADER = [
    {"name": "packet_id", "encoding": "unsigned", "bits": 16, "byte_order": "big", "reverse_bits": False},
    {"name": "sequence", "encoding": "unsigned", "bits": 16, "byte_order": "big", "reverse_bits": False},
    {"name": "length", "encoding": "unsigned", "bits": 16, "byte_order": "big", "reverse_bits": False},
]


def entry(name, encoding, bits, offset_bits, byte_order="big"):
    return {"name": name, "encoding": encoding, "bits": bits, "byte_order": byte_order,
            "reverse_bits": False, "offset_bits": offset_bits}


HOUSEKEEPING = HEADER + [
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


def primary_header(values):
    """Split the first two header words into their sub-byte fields."""
    packet_id, sequence = values["packet_id"], values["sequence"]
    return {
        "version": packet_id >> 13,
        "type": (packet_id >> 12) & 1,
        "secondary_header": (packet_id >> 11) & 1,
        "apid": packet_id & 0x7FF,
        "sequence_flags": sequence >> 14,
        "sequence_count": sequence & 0x3FFF,
        "length": values["length"],
    }


def sample_packets():
    """Three housekeeping packets as the spacecraft would send them."""
    packets = []
    for count, (volts, temp, mode, heater, current, board, hours) in enumerate([
        (28.1, 21.37, 1, 0, 0.0, 24.5, 1203),
        (27.9, 18.02, 2, 1, 0.42, 19.25, 1204),
        (26.4, -3.55, 0, 1, 0.97, -1.5, 1205),
    ]):
        values = {
            "packet_id": (0 << 13) | (0 << 12) | (1 << 11) | 0x123,
            "sequence": (3 << 14) | (100 + count),
            "length": 35 - 7,
            "seconds": 1_700_000_000 + 16 * count,
            "subseconds": 0x8000,
            "bus_voltage_raw": round(volts / 32.0 * 4095),
            "battery_temp": round(temp * 100),
            "mode": mode,
            "heater_on": heater,
            "heater_current": current,
            "board_temp": board,
            "uptime_bcd": hours,
            "software": "HKv2.1.0",
        }
        packets.append(telbit.pack_parameters(HOUSEKEEPING, values))
    return packets


def show_housekeeping(packet):
    values = telbit.unpack_parameters(packet, 0, HOUSEKEEPING)
    header = primary_header(values)
    print(f"APID 0x{header['apid']:03X}  count {header['sequence_count']:5d}  t={values['seconds']}"
          f".{values['subseconds'] * 1000 // 65536:03d}  software {values['software']}")
    print(f"  bus voltage   {values['bus_voltage_raw'] * 32.0 / 4095:6.2f} V   (raw {values['bus_voltage_raw']})")
    print(f"  battery temp  {values['battery_temp'] / 100:6.2f} degC")
    print(f"  board temp    {values['board_temp']:6.2f} degC")
    print(f"  heater        {'ON ' if values['heater_on'] else 'OFF'}  {values['heater_current']:.3f} A")
    print(f"  mode          {MODES.get(values['mode'], values['mode'])}   uptime {values['uptime_bcd']} h")


COMMAND = HEADER + [
    entry("opcode", "unsigned", 8, 48),
    entry("target_temp", "twos_complement", 16, 56, "little"),
    entry("duration_s", "packed_bcd", 16, 72),
    entry("note", "utf8", 96, 88),
]


def build_command():
    values = {
        "packet_id": (0 << 13) | (1 << 12) | (0 << 11) | 0x045,
        "sequence": (3 << 14) | 7,
        "length": 23 - 7,
        "opcode": 0x2A,
        "target_temp": -150,
        "duration_s": 900,
        "note": "heater test",
    }
    packet = telbit.pack_parameters(COMMAND, values)
    assert telbit.unpack_parameters(packet, 0, COMMAND)["note"] == "heater test\x00"
    return packet


def main():
    for packet in sample_packets():
        print(f"packet {packet.hex()}")
        show_housekeeping(packet)
    command = build_command()
    print(f"command packet ({len(command)} bytes): {command.hex(' ')}")


if __name__ == "__main__":
    main()
