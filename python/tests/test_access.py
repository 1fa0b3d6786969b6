"""Connections, typed object access and the errors they raise, on both transports."""
import ctypes

import pytest

import zarn
from zarn import codes


def library_message() -> str:
    """The library's own text for its last error."""
    text = ctypes.create_string_buffer(71)
    zarn._library.load().ZARN_GetErrorCode(text)
    return text.value.decode()


def test_every_type_round_trips(drive):
    drive.write(0x6081, 0, 0xFFFFFFFF, "u32")
    assert drive.read(0x6081, 0, "u32") == 0xFFFFFFFF
    drive.write(0x607C, 0, -2, "i32")
    assert (drive.read(0x607C, 0, "i32"), drive.read(0x607C, 0, "u32")) == (-2, 0xFFFFFFFE)
    drive.write(0x2101, 0, -2, "i16")
    assert (drive.read(0x2101, 0, "i16"), drive.read(0x2101, 0, "u16")) == (-2, 0xFFFE)
    drive.write(0x6060, 0, 255, "u8")
    assert (drive.read(0x6060, 0, "i8"), drive.read(0x6060, 0, "u8")) == (-1, 255)
    for text in ("AL-0001 test", "x" * 32, ""):
        drive.write(0x2702, 16, text, "text")
        assert drive.read(0x2702, 16, "text") == text


@pytest.mark.parametrize("transport", ["udp"])
@pytest.mark.parametrize(
    "call, error, words",
    [
        (lambda d: d.read(0x6064, 0, "f32"), ValueError, "type must be one of 'u8'"),
        (lambda d: d.write(0x6081, 0, 1 << 32, "u32"), ValueError, "u32 value 4294967296 is outside 0 to 4294967295"),
        (lambda d: d.write(0x6060, 0, -129, "i8"), ValueError, "i8 value -129 is outside -128 to 127"),
        (lambda d: d.write(0x6081, 0, 1.5, "u32"), TypeError, "u32 value must be an integer, not float"),
        (lambda d: d.read(0x10000, 0, "u16"), ValueError, "index 65536 is outside 0 to 65535"),
        (lambda d: d.read(0x6064, "0", "i32"), TypeError, "subindex must be an integer"),
        (lambda d: d.write(0x2702, 16, 5, "text"), TypeError, "a text value must be a str"),
        (lambda d: d.move_to(1 << 31), ValueError, "target 2147483648 is outside"),
        (lambda d: d.move_by(0, velocity=-1), ValueError, "velocity -1 is outside"),
        (lambda d: d.home(35, offset=40000), ValueError, "home offset 40000 is outside -32768 to 32767"),
    ],
)
def test_bad_arguments_are_refused_before_any_request(drive, call, error, words):
    before = drive.read(0x6081, 0, "u32")
    with pytest.raises(error, match=words):
        call(drive)
    assert drive.read(0x6081, 0, "u32") == before and drive.position == 0


@pytest.mark.parametrize("transport", ["udp"])
def test_texts_the_drive_cannot_take(drive):
    with pytest.raises(zarn.ZarnError) as long:
        drive.write(0x2702, 16, "x" * 33, "text")
    assert (long.value.code, long.value.message) == (42, "Parameter: String size is range over(>32)!")
    with pytest.raises(zarn.ZarnError) as nul:
        drive.write(0x2702, 16, "a\0b", "text")
    assert nul.value.code == codes.E_INVALID_PARAM and "NUL" in str(nul.value)
    assert drive.read(0x2702, 16, "text") == ""


def test_drive_and_transport_errors_carry_code_and_message(axis, transport):
    drive = axis(refuse="6081:00=6")
    with pytest.raises(zarn.ZarnError) as missing:
        drive.read(0x5FFF, 0, "u16")
    assert missing.value.code == codes.E_REPLY_ILLEGAL_ADDRESS
    assert missing.value.message == "Reply Error: Data address is not allowable." == library_message()
    assert str(missing.value) == f"read 0x5FFF:00 u16, drive {drive.id}: Reply Error: Data address is not allowable."
    with pytest.raises(zarn.ZarnError, match=r"write 0x6081:00 u32, drive \d: Reply Error: Drive is busy\.$"):
        drive.write(0x6081, 0, 1, "u32")
    drive.close()
    with pytest.raises(zarn.ZarnError) as closed:
        drive.position
    assert (closed.value.code, closed.value.message) == (38, "Connection: There is no connection!")

    echo = axis(bad_echo=True)
    with pytest.raises(zarn.ZarnError) as wrong:
        echo.read(0x6081, 0, "u32")
    assert wrong.value.code == (codes.E_ETH_ECHO if transport == "udp" else codes.E_SERIAL_ECHO)
    assert wrong.value.message == library_message() and wrong.value.message.endswith(
        "Received Command is not match of the request."
    )


def test_opening_errors(sim, tmp_path):
    with pytest.raises(zarn.ZarnError) as slot:
        zarn.Drive.udp(32, sim.udp_address, sim.udp_port(1))
    assert (slot.value.code, slot.value.message) == (40, "Connection: There is no empty connection!")
    with pytest.raises(zarn.ZarnError, match="Serial: PortOpen is failed") as port:
        zarn.Drive.serial(1, str(tmp_path / "no-such-port"))
    assert port.value.code == codes.E_SERIAL_OPEN
    with pytest.raises(ValueError, match="drive id 256"):
        zarn.Drive.udp(256, sim.udp_address, sim.udp_port(1))
    with zarn.Drive.udp(1, sim.udp_address, sim.udp_port(1)):
        with pytest.raises(zarn.ZarnError) as twice:
            zarn.Drive.udp(1, sim.udp_address, sim.udp_port(1))
        assert twice.value.code == codes.E_ETH_OPEN
    with zarn.Drive.serial(2, sim.serial_port):
        with pytest.raises(zarn.ZarnError, match="another Drive holds this id"):
            zarn.Drive.serial(2, sim.serial_port)
        with pytest.raises(zarn.ZarnError, match="the serial line is open on"):
            zarn.Drive.serial(1, sim.serial_port, baud=9600)


def test_serial_drives_share_the_line(sim):
    first = zarn.Drive.serial(1, sim.serial_port)
    with zarn.Drive.serial(2, sim.serial_port) as second:
        first.close()
        assert second.read(0x6081, 0, "u32") == 100000  # the line stays open for the other drive
        with pytest.raises(zarn.ZarnError, match="There is no connection"):
            first.read(0x6081, 0, "u32")
    with zarn.Drive.serial(1, sim.serial_port, baud=9600) as again:  # closed with the last drive, reopened
        assert again.read(0x6081, 0, "u32") == 100000


def test_status_and_monitors(drive):
    status = drive.status()
    assert not status.enabled and not status.alarm and status.alarm_code == 0
    assert all(type(getattr(status, name)) is bool for name in ("enabled", "alarm", "in_position", "homed"))
    drive.enable()
    status = drive.status()
    assert status.enabled and status.enable_command and not status.emergency_stop
    assert (drive.position, drive.velocity, drive.torque) == (0, 0, 0)
    drive.disable()
    assert not drive.status().enabled
