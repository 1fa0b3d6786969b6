/* zarn error codes: the one list of every code and its message.
 * X(code, name, message) */
#ifndef ZARN_ERRORS_H
#define ZARN_ERRORS_H

#define ZARN_ERROR_LIST(X)                                                                              \
  X(0, ZARN_OK, "ZARN is OK.")                                                                          \
  X(1, ZARN_E_LIBRARY_INIT, "LibraryInit() is failed.")                                                 \
  X(2, ZARN_E_INTERNAL, "Library has internal error.")                                                  \
  X(3, ZARN_E_INVALID_PARAM, "Function call parameter is invalid.")                                     \
  X(4, ZARN_E_REPLY_UNKNOWN, "Reply Error: Unknown error code.")                                        \
  X(5, ZARN_E_REPLY_ILLEGAL_FUNCTION, "Reply Error: Illegal function code.")                            \
  X(6, ZARN_E_REPLY_ILLEGAL_ADDRESS, "Reply Error: Data address is not allowable.")                     \
  X(7, ZARN_E_REPLY_ILLEGAL_DATA, "Reply Error: Data or Length or Crc is not allowable/incorrect.")     \
  X(8, ZARN_E_REPLY_DEVICE_FAILURE, "Reply Error: Unrecoverable error occurred.")                       \
  X(9, ZARN_E_REPLY_LONG_JOB, "Reply Error: Drive has no time to process the requested long time job.") \
  X(10, ZARN_E_REPLY_BUSY, "Reply Error: Drive is busy.")                                               \
  X(11, ZARN_E_REPLY_FILE_CHECK, "Reply Error: Extended file area failed to pass consistency check.")   \
  X(12, ZARN_E_SERIAL_OPEN, "Serial: PortOpen is failed.")                                              \
  X(13, ZARN_E_SERIAL_CLOSE, "Serial: PortClose is failed.")                                            \
  X(14, ZARN_E_SERIAL_SHORT, "Serial: Received data is less than 6 Byte.")                              \
  X(15, ZARN_E_UNKNOWN, "Unknown Error.")                                                               \
  X(16, ZARN_E_SERIAL_WRITE, "Serial: Data write is failed.")                                           \
  X(17, ZARN_E_SERIAL_CRC, "Serial: Received CRC is bad.")                                              \
  X(18, ZARN_E_SERIAL_ECHO, "Serial: Received Command is not match of the request.")                    \
  X(19, ZARN_E_SERIAL_STATUS, "Serial: Received STS has error.")                                        \
  X(20, ZARN_E_SERIAL_TIMEOUT, "Serial: Receive Timeout.")                                              \
  X(21, ZARN_E_SERIAL_NO_REPLY, "Serial: RxPacket is missing.")                                         \
  X(22, ZARN_E_SERIAL_TOO_BIG, "Serial: Request ByteSize is too big.")                                  \
  X(23, ZARN_E_SERIAL_NO_PORT, "Serial: COM Port handle is null.")                                      \
  X(24, ZARN_E_ETH_OPEN, "Ethernet: PortOpen is failed.")                                               \
  X(25, ZARN_E_ETH_CLOSE, "Ethernet: PortClose is failed.")                                             \
  X(26, ZARN_E_ETH_SHORT, "Ethernet: Received data is less than 6 Byte.")                               \
  X(27, ZARN_E_ETH_WRITE, "Ethernet: Data write is failed.")                                            \
  X(28, ZARN_E_ETH_CRC, "Ethernet: Received CRC is bad.")                                               \
  X(29, ZARN_E_ETH_ECHO, "Ethernet: Received Command is not match of the request.")                     \
  X(30, ZARN_E_ETH_STATUS, "Ethernet: Received STS has error.")                                         \
  X(31, ZARN_E_ETH_TIMEOUT, "Ethernet: Receive Timeout.")                                               \
  X(32, ZARN_E_ETH_NO_REPLY, "Ethernet: RxPacket is missing.")                                          \
  X(33, ZARN_E_ETH_TOO_BIG, "Ethernet: Request ByteSize is too big.")                                   \
  X(34, ZARN_E_ETH_NO_SOCKET, "Ethernet: StateMachine socket is null(SystemError).")                    \
  X(35, ZARN_E_ETH_SLOT_USED, "Ethernet: The Edrive index is already used.")                            \
  X(36, ZARN_E_ETH_NO_SLOT, "Ethernet: There is no active connection for the drive id.")                \
  X(37, ZARN_E_ETH_NODE_ID, "Ethernet: NodeId param does not match with the physical address.")         \
  X(38, ZARN_E_NO_CONNECTION, "Connection: There is no connection!")                                    \
  X(39, ZARN_E_SLAVE_OFFLINE, "Connection: Slave is offline!")                                          \
  X(40, ZARN_E_NO_EMPTY_CONNECTION, "Connection: There is no empty connection!")                        \
  X(41, ZARN_E_ID_RANGE, "Drive ID: ID range is invalid!")                                              \
  X(42, ZARN_E_STRING_TOO_LONG, "Parameter: String size is range over(>32)!")

/* Named constants: ZARN_OK, ZARN_E_INVALID_PARAM, ... */
enum {
#define ZARN_ERROR_ENUM_(code, name, message) name = code,
  ZARN_ERROR_LIST(ZARN_ERROR_ENUM_)
#undef ZARN_ERROR_ENUM_
      ZARN_ERROR_COUNT = 43
};

/* Conditions that the safe-motion layer over the C functions finds by reading
 * the drive (the C++ API of zarn.hpp, and bindings that follow it). The C
 * functions never return them; ZARN_GetErrorCode calls them "Unknown Error.".
 * X(code, name, message) */
#define ZARN_MOTION_ERROR_LIST(X)                                                      \
  X(100, ZARN_E_ALARM_ACTIVE, "Motion: The drive reports an alarm.")                   \
  X(101, ZARN_E_EMERGENCY_STOP, "Motion: The emergency stop is latched.")              \
  X(102, ZARN_E_SERVO_OFF, "Motion: The servo is off.")                                \
  X(103, ZARN_E_MOVE_TIMEOUT, "Motion: The move did not end in time.")                 \
  X(104, ZARN_E_HOMING_TIMEOUT, "Motion: Homing did not end in time.")                 \
  X(105, ZARN_E_SERVO_ON_TIMEOUT, "Servo: The drive did not report servo on in time.") \
  X(106, ZARN_E_ALARM_PERSISTS, "Servo: The alarm is still active after the reset.")

enum {
#define ZARN_ERROR_ENUM_(code, name, message) name = code,
  ZARN_MOTION_ERROR_LIST(ZARN_ERROR_ENUM_)
#undef ZARN_ERROR_ENUM_
};

#endif
