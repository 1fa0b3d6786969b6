/**
 * @file zarn.h
 * zarn motion library: the public C interface.
 *
 * Every function returns a signed 32-bit error code (ZARN_OK = 0 on success,
 * the table is in zarn_errors.h) and records it as the library's last error
 * unless its documentation says otherwise. Outputs go through pointers and
 * are written only when the request that supplies them succeeded.
 * Multi-byte values travel most significant byte first; the library converts.
 *
 * Blocking: a request blocks until its reply is in; a drive that never
 * answers ends a request after one to two seconds (ZARN_E_SERIAL_NO_REPLY or
 * ZARN_E_ETH_NO_REPLY).
 */
#ifndef ZARN_ZARN_H
#define ZARN_ZARN_H

#include <stdint.h>
#include "zarn_errors.h"

#if defined(_WIN32) && !defined(_WIN64)
#define ZARN_CALL __stdcall
#else
#define ZARN_CALL
#endif

#if defined(_WIN32)
#define ZARN_API /* exported names come from the module-definition file */
#elif defined(ZARN_BUILDING_LIBRARY)
#define ZARN_API __attribute__((visibility("default")))
#else
#define ZARN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** The eleven parameters of one index (object 0x3100 + number), byte-packed. */
#pragma pack(push, 1)
typedef struct IndexParameter {
  uint8_t reserved[4]; /**< offset 0: not read or written by the library */
  uint16_t sub1;       /**< subindex 1, unsigned 16-bit */
  int32_t sub2;        /**< subindices 2 to 7, signed 32-bit */
  int32_t sub3;
  int32_t sub4;
  int32_t sub5;
  int32_t sub6;
  int32_t sub7;
  uint16_t sub8; /**< subindices 8 to 11, unsigned 16-bit */
  uint16_t sub9;
  uint16_t sub10;
  uint16_t sub11;
} IndexParameter;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(IndexParameter) == 38, "IndexParameter must be 38 bytes");
#else
typedef char zarn_index_parameter_size_check[(sizeof(IndexParameter) == 38) ? 1 : -1];
#endif

/* ---------------------------------------------------------------------------
 * Errors, version, time-outs. None of these changes the last error except
 * ZARN_GetErrorString, which clears it.
 * ------------------------------------------------------------------------- */

/** Writes the message of the last error into text (71 bytes); returns the last error itself. */
ZARN_API int32_t ZARN_CALL ZARN_GetErrorCode(char *text);
/** Writes the (always empty) error text into text (256 bytes) and sets the last error to 0. */
ZARN_API int32_t ZARN_CALL ZARN_GetErrorString(char *text);
/** Writes 0x01020304. */
ZARN_API int32_t ZARN_CALL ZARN_GetZarnDllVersion(int32_t *version);
/** Reports the Ethernet socket time-out (ms) and connect wait (s); initially 3 and 1. */
ZARN_API int32_t ZARN_CALL ZARN_GetTimeout(int32_t *socketTimeout, int32_t *connectTimeout);
/** Stores both settings for connections opened afterwards; their low 16 bits reach the socket. */
ZARN_API int32_t ZARN_CALL ZARN_SetTimeout(int32_t socketTimeout, int32_t connectTimeout);

/* ---------------------------------------------------------------------------
 * Raw parameter access: one object (index:subindex) of a connected drive.
 *
 * Each makes one request. Reads take the first 1, 2 or 4 reply bytes, most
 * significant first (missing bytes read as zero); writes send 1, 2 or 4 bytes.
 * Returns ZARN_OK, ZARN_E_NO_CONNECTION (38), ZARN_E_ETH_NO_SLOT (36), a reply
 * code (4..11) or a transport code (serial 3, 16..23; Ethernet 27..34).
 * Null output pointers give ZARN_E_INVALID_PARAM without a request.
 * Blocks for one exchange: one to two seconds at most when the drive is silent.
 * ------------------------------------------------------------------------- */

ZARN_API int32_t ZARN_CALL ZARN_ReadByte(uint8_t driveId, uint16_t index, uint8_t subIndex, uint8_t *value);
ZARN_API int32_t ZARN_CALL ZARN_ReadByteS(uint8_t driveId, uint16_t index, uint8_t subIndex, int8_t *value);
ZARN_API int32_t ZARN_CALL ZARN_ReadWord(uint8_t driveId, uint16_t index, uint8_t subIndex, uint16_t *value);
ZARN_API int32_t ZARN_CALL ZARN_ReadWordS(uint8_t driveId, uint16_t index, uint8_t subIndex, int16_t *value);
ZARN_API int32_t ZARN_CALL ZARN_ReadDWord(uint8_t driveId, uint16_t index, uint8_t subIndex, uint32_t *value);
ZARN_API int32_t ZARN_CALL ZARN_ReadDWordS(uint8_t driveId, uint16_t index, uint8_t subIndex, int32_t *value);
ZARN_API int32_t ZARN_CALL ZARN_WriteByte(uint8_t driveId, uint16_t index, uint8_t subIndex, uint8_t value);
ZARN_API int32_t ZARN_CALL ZARN_WriteByteS(uint8_t driveId, uint16_t index, uint8_t subIndex, int8_t value);
ZARN_API int32_t ZARN_CALL ZARN_WriteWord(uint8_t driveId, uint16_t index, uint8_t subIndex, uint16_t value);
ZARN_API int32_t ZARN_CALL ZARN_WriteWordS(uint8_t driveId, uint16_t index, uint8_t subIndex, int16_t value);
ZARN_API int32_t ZARN_CALL ZARN_WriteDWord(uint8_t driveId, uint16_t index, uint8_t subIndex, uint32_t value);
ZARN_API int32_t ZARN_CALL ZARN_WriteDWordS(uint8_t driveId, uint16_t index, uint8_t subIndex, int32_t value);
/** Reads a text of at most 32 characters into text (33 bytes), NUL-terminated. */
ZARN_API int32_t ZARN_CALL ZARN_ReadString(uint8_t driveId, uint16_t index, uint8_t subIndex, char *text);
/** Writes the characters of text without its terminator; more than 32 gives ZARN_E_STRING_TOO_LONG. */
ZARN_API int32_t ZARN_CALL ZARN_WriteString(uint8_t driveId, uint16_t index, uint8_t subIndex, const char *text);
/** Reads subindices 1 to 11 of object 0x3100 + number; stops at the first failure. */
ZARN_API int32_t ZARN_CALL ZARN_ReadIndexParameter(uint8_t driveId, int32_t number, IndexParameter *record);
/** Writes subindices 1 to 11 of object 0x3100 + number; stops at the first failure. */
ZARN_API int32_t ZARN_CALL ZARN_WriteIndexParameter(uint8_t driveId, int32_t number, const IndexParameter *record);
/** Writes "save" to 0x1010:01, waits 2 s, writes it to 0x1010:05; returns the second write's code. */
ZARN_API int32_t ZARN_CALL ZARN_StoreParameter(uint8_t driveId);
/** Hexadecimal text (upper case) of length bytes; text holds 2 * length + 1 characters. Exported as _ZARN_BinToStr@12
 * on 32-bit Windows. */
ZARN_API int32_t ZARN_CALL ZARN_BinToStr(char *text, const uint8_t *data, int32_t length);
/** Bytes of a hexadecimal text of even length up to 500; other texts convert nothing. A pair that is
 *  not hexadecimal stores 0. Exported as _ZARN_StrToBin@8 on 32-bit Windows. */
ZARN_API int32_t ZARN_CALL ZARN_StrToBin(const char *text, uint8_t *data);

/* ---------------------------------------------------------------------------
 * Connections. Drive ids outside 0..255 give ZARN_E_ID_RANGE (41).
 * ------------------------------------------------------------------------- */

/** Opens (or joins) the serial line and marks driveId serial.
 *  @param port "COM3", or on POSIX a device path such as "/dev/ttyUSB0" ("COMn" is /dev/ttyS(n-1)).
 *  @param baud line speed; a line already open keeps its own (only the inter-frame delay, 35000/baud + 1 ms, follows).
 *  @return ZARN_OK; ZARN_E_SERIAL_OPEN (12) when the id is connected, baud is 0 or the port does not open. */
ZARN_API int32_t ZARN_CALL ZARN_SDRVOpen(int32_t driveId, const char *port, uint32_t baud);
/** Opens drive id 0..31 over UDP (slot n for id n), bringing the EtherCAT master online first
 *  when it is not (at least 1 s), then reads 0x2003:00 once (its outcome is ignored).
 *  @return ZARN_OK; ZARN_E_ETH_OPEN (24) id already connected or the open failed;
 *          ZARN_E_ETH_SLOT_USED (35); ZARN_E_NO_EMPTY_CONNECTION (40) id above 31. */
ZARN_API int32_t ZARN_CALL ZARN_EDRVOpen(int32_t driveId, const char *address, uint16_t port);
/** Closes a serial connection (the line, for every serial drive) or an Ethernet one (the master
 *  stops with the last Ethernet connection). Returns ZARN_OK. */
ZARN_API int32_t ZARN_CALL ZARN_DriveClose(int32_t driveId);
/** Counts the ids 0..31 that answer a read of 0x2514:00 (one request per connected id). */
ZARN_API int32_t ZARN_CALL ZARN_GetSlaveCount(int32_t *count);
/** online = 1 when the drive answers a read of 0x2514:00; otherwise 0 and ZARN_E_SLAVE_OFFLINE (39). */
ZARN_API int32_t ZARN_CALL ZARN_IsSlaveOnline(uint8_t driveId, int32_t *online);
/** The EtherCAT master's online mode (2 with the built-in direct-IP master). */
ZARN_API int32_t ZARN_CALL ZARN_GetOnlineMode(int32_t *mode);
/** Last reply received; buffer holds 65 bytes. */
ZARN_API int32_t ZARN_CALL ZARN_GetRxPackets(uint8_t driveId, uint8_t *buffer, uint16_t *length);
/** Last request sent; buffer holds 67 bytes. */
ZARN_API int32_t ZARN_CALL ZARN_GetTxPackets(uint8_t driveId, uint8_t *buffer, uint16_t *length);
ZARN_API int32_t ZARN_CALL ZARN_SetEoESetupFile(const char *path);
ZARN_API int32_t ZARN_CALL ZARN_GetEoESetupFile(char *path);

/* ---------------------------------------------------------------------------
 * Named drive settings and monitors: one request each to the object named
 * beside it, with the width of the value type; codes as for raw access.
 * ------------------------------------------------------------------------- */

ZARN_API int32_t ZARN_CALL ZARN_GetInertiaRatio(uint8_t driveId, uint16_t *value);             /* 0x2100:00 */
ZARN_API int32_t ZARN_CALL ZARN_GetPosGainKp(uint8_t driveId, uint16_t *value);                /* 0x2101:00 */
ZARN_API int32_t ZARN_CALL ZARN_GetVelGainKp(uint8_t driveId, uint16_t *value);                /* 0x2102:00 */
ZARN_API int32_t ZARN_CALL ZARN_GetVelGainKiT(uint8_t driveId, uint16_t *value);               /* 0x2103:00 */
ZARN_API int32_t ZARN_CALL ZARN_GetPosGainKvff(uint8_t driveId, uint16_t *value);              /* 0x210C:00 */
ZARN_API int32_t ZARN_CALL ZARN_GetPosGainKvff_flt(uint8_t driveId, uint16_t *value);          /* 0x210D:00 */
ZARN_API int32_t ZARN_CALL ZARN_GetCurGain(uint8_t driveId, uint16_t *value);                  /* 0x2514:00 */
ZARN_API int32_t ZARN_CALL ZARN_FeedbackSpeed(uint8_t driveId, int16_t *value);                /* 0x2600:00 */
ZARN_API int32_t ZARN_CALL ZARN_AccumOverload(uint8_t driveId, int16_t *value);                /* 0x2603:00 */
ZARN_API int32_t ZARN_CALL ZARN_DCLinkVoltage(uint8_t driveId, uint16_t *value);               /* 0x2605:00 */
ZARN_API int32_t ZARN_CALL ZARN_SingleTurnData(uint8_t driveId, uint32_t *value);              /* 0x2607:00 */
ZARN_API int32_t ZARN_CALL ZARN_MultiTurnData(uint8_t driveId, uint16_t *value);               /* 0x260A:00 */
ZARN_API int32_t ZARN_CALL ZARN_DriveTemp(uint8_t driveId, int16_t *value);                    /* 0x260B:00 */
ZARN_API int32_t ZARN_CALL ZARN_WarningCode(uint8_t driveId, uint16_t *value);                 /* 0x2614:00 */
ZARN_API int32_t ZARN_CALL ZARN_ActualPosition(uint8_t driveId, int32_t *value);               /* 0x6064:00 */
ZARN_API int32_t ZARN_CALL ZARN_ActualVelocity(uint8_t driveId, int32_t *value);               /* 0x606C:00 */
ZARN_API int32_t ZARN_CALL ZARN_ActualTorque(uint8_t driveId, int16_t *value);                 /* 0x6077:00 */
ZARN_API int32_t ZARN_CALL ZARN_TouchProbeStatus(uint8_t driveId, uint16_t *value);            /* 0x60B9:00 */
ZARN_API int32_t ZARN_CALL ZARN_TouchProbe1PositiveEdgeValue(uint8_t driveId, int32_t *value); /* 0x60BA:00 */
ZARN_API int32_t ZARN_CALL ZARN_TouchProbe1NegativeEdgeValue(uint8_t driveId, int32_t *value); /* 0x60BB:00 */
ZARN_API int32_t ZARN_CALL ZARN_TouchProbe2PositiveEdgeValue(uint8_t driveId, int32_t *value); /* 0x60BC:00 */
ZARN_API int32_t ZARN_CALL ZARN_TouchProbe2NegativeEdgeValue(uint8_t driveId, int32_t *value); /* 0x60BD:00 */

ZARN_API int32_t ZARN_CALL ZARN_SetInertiaRatio(uint8_t driveId, uint16_t value);    /* 0x2100:00 */
ZARN_API int32_t ZARN_CALL ZARN_SetPosGainKp(uint8_t driveId, uint16_t value);       /* 0x2101:00 */
ZARN_API int32_t ZARN_CALL ZARN_SetVelGainKp(uint8_t driveId, uint16_t value);       /* 0x2102:00 */
ZARN_API int32_t ZARN_CALL ZARN_SetVelGainKiT(uint8_t driveId, uint16_t value);      /* 0x2103:00 */
ZARN_API int32_t ZARN_CALL ZARN_SetPosGainKvff(uint8_t driveId, uint16_t value);     /* 0x210C:00 */
ZARN_API int32_t ZARN_CALL ZARN_SetPosGainKvff_flt(uint8_t driveId, uint16_t value); /* 0x210D:00 */
ZARN_API int32_t ZARN_CALL ZARN_SetCurGain(uint8_t driveId, uint16_t value);         /* 0x2514:00 */
ZARN_API int32_t ZARN_CALL ZARN_SelVelocityLimit(uint8_t driveId, uint16_t value);   /* 0x230D:00 */
ZARN_API int32_t ZARN_CALL ZARN_SetVelocityLimit(uint8_t driveId, uint16_t value);   /* 0x230E:00 */
ZARN_API int32_t ZARN_CALL ZARN_TorqueVelLimit(uint8_t driveId, uint32_t value);     /* 0x607F:00 */
ZARN_API int32_t ZARN_CALL ZARN_ProfileVelocity(uint8_t driveId, uint32_t value);    /* 0x6081:00 */
ZARN_API int32_t ZARN_CALL ZARN_ProfileAccel(uint8_t driveId, uint32_t value);       /* 0x6083:00 */
ZARN_API int32_t ZARN_CALL ZARN_ProfileDecel(uint8_t driveId, uint32_t value);       /* 0x6084:00 */
ZARN_API int32_t ZARN_CALL ZARN_StopDecel(uint8_t driveId, uint32_t value);          /* 0x6085:00 */
/** 0x6087:00. Exported as _ZARN_TorqueSlope@8 on 32-bit Windows. */
ZARN_API int32_t ZARN_CALL ZARN_TorqueSlope(uint8_t driveId, uint32_t value);
ZARN_API int32_t ZARN_CALL ZARN_TargetTorque(uint8_t driveId, int32_t value);        /* 0x6071:00, 4 bytes */
ZARN_API int32_t ZARN_CALL ZARN_TargetVelocity(uint8_t driveId, int32_t value);      /* 0x60FF:00 */
ZARN_API int32_t ZARN_CALL ZARN_TouchProbeFunction(uint8_t driveId, uint16_t value); /* 0x60B8:00 */

/* Pair writers: the second write is made only when the first succeeded. */
ZARN_API int32_t ZARN_CALL ZARN_SetInPosition(uint8_t driveId, uint32_t window, uint16_t time);    /* 0x6067, 0x6068 */
ZARN_API int32_t ZARN_CALL ZARN_SetInVelocity(uint8_t driveId, uint32_t window, uint16_t time);    /* 0x606D, 0x606E */
ZARN_API int32_t ZARN_CALL ZARN_SetElecGearRatio(uint8_t driveId, uint32_t motor, uint32_t shaft); /* 0x6091:01, :02 */
ZARN_API int32_t ZARN_CALL ZARN_HomeTorqueLimit(uint8_t driveId, uint16_t first, uint16_t second); /* 0x2409, 0x240A */

/* ---------------------------------------------------------------------------
 * Servo state (drive control input 1, 0x211F:00: bit 12 enable, 10 emergency
 * stop, 11 alarm reset) and alarms (0x2121:00 bit 1, 0x603F:00, 0x2702:n).
 * Bit changes read the word and write it back (two requests). Each function
 * stops at its first failing request and returns that code.
 * ------------------------------------------------------------------------- */

ZARN_API int32_t ZARN_CALL ZARN_Enable(uint8_t driveId);
ZARN_API int32_t ZARN_CALL ZARN_Disable(uint8_t driveId);
ZARN_API int32_t ZARN_CALL ZARN_IsEnabled(uint8_t driveId, int *enabled);
/** Sets bit 11, waits 500 ms, clears it. */
ZARN_API int32_t ZARN_CALL ZARN_ResetAlarm(uint8_t driveId);
/** Writes 0x0000 then 0x0400: every other command bit, servo enable included, ends cleared. The second
 *  write is made even when the first failed; the first failure's code is returned and recorded. */
ZARN_API int32_t ZARN_CALL ZARN_EmergencyStop(uint8_t driveId);
ZARN_API int32_t ZARN_CALL ZARN_IsAlarm(uint8_t driveId, int *alarm, uint16_t *code);
ZARN_API int32_t ZARN_CALL ZARN_ProcedureCmd(uint8_t driveId, uint16_t command, uint16_t argument);
ZARN_API int32_t ZARN_CALL ZARN_ClearAlarmHistory(uint8_t driveId);
ZARN_API int32_t ZARN_CALL ZARN_DriveSoftReset(uint8_t driveId);
/** Reads alarm history entry 0x2702:number into text (33 bytes). */
ZARN_API int32_t ZARN_CALL ZARN_GetAlarmHistory(uint8_t driveId, uint8_t number, char *text);
ZARN_API int32_t ZARN_CALL ZARN_SetControlMode(uint8_t driveId, uint16_t mode);
ZARN_API int32_t ZARN_CALL ZARN_SetOperationMode(uint8_t driveId, char mode);

/* ---------------------------------------------------------------------------
 * Motion. None of these enables the drive or selects its mode of operation.
 * A move writes its objects (0x607A, then 0x6081/0x6083/0x6084 for the
 * profiled ones), sets or clears bit 6 of 0x6040 (relative), and starts with
 * 0x0000 then 0x0001 to 0x2120:00; it stops at the first failing request.
 * ------------------------------------------------------------------------- */

ZARN_API int32_t ZARN_CALL ZARN_MoveAbs(uint8_t driveId, int32_t position);
ZARN_API int32_t ZARN_CALL ZARN_MoveAbsolute(uint8_t driveId, int32_t position, uint32_t velocity,
                                             uint32_t acceleration, uint32_t deceleration);
ZARN_API int32_t ZARN_CALL ZARN_MoveRel(uint8_t driveId, int32_t distance);
ZARN_API int32_t ZARN_CALL ZARN_MoveRelative(uint8_t driveId, int32_t distance, uint32_t velocity,
                                             uint32_t acceleration, uint32_t deceleration);
ZARN_API int32_t ZARN_CALL ZARN_MoveIndex(uint8_t driveId, uint16_t indexNumber);
ZARN_API int32_t ZARN_CALL ZARN_Start(uint8_t driveId);
ZARN_API int32_t ZARN_CALL ZARN_Stop(uint8_t driveId);
/** Writes 0x6098, 0x6099:01, 0x6099:02, 0x609A, 0x607C (offset widened with its sign), then gives bit 3 of
 *  0x2120 a rising edge: when the word read has it set already, it is written cleared first (7 or 8 requests). */
ZARN_API int32_t ZARN_CALL ZARN_Homing(uint8_t driveId, char method, int32_t switchSpeed, int32_t zeroSpeed,
                                       uint32_t acceleration, int16_t offset);
/** Homing method 35 on the current position: 0x6098 = 35, 0x607C = position, a rising edge of bit 3 of 0x2120. */
ZARN_API int32_t ZARN_CALL ZARN_SetCurrentPosition(uint8_t driveId, int32_t position);
/** Polls bit 4 of 0x2121:00 every 10 ms for up to timeout ms (at least once); done = 1 when in position. */
ZARN_API int32_t ZARN_CALL ZARN_WaitMoveDone(uint8_t driveId, uint32_t timeout, int *done);
ZARN_API int32_t ZARN_CALL ZARN_IsInPosition(uint8_t driveId, int *value);
ZARN_API int32_t ZARN_CALL ZARN_IsInVelocity(uint8_t driveId, int *value);
ZARN_API int32_t ZARN_CALL ZARN_IsHome(uint8_t driveId, int *value);
ZARN_API int32_t ZARN_CALL ZARN_IsEndIndex(uint8_t driveId, int *value);

/* ---------------------------------------------------------------------------
 * Status bits and I/O. Bit numbers outside 0..15 give ZARN_E_INVALID_PARAM.
 * ------------------------------------------------------------------------- */

ZARN_API int32_t ZARN_CALL ZARN_IsNegativeLimit(uint8_t driveId, int *value);
ZARN_API int32_t ZARN_CALL ZARN_IsPositiveLimit(uint8_t driveId, int *value);
ZARN_API int32_t ZARN_CALL ZARN_IsHomeSensor(uint8_t driveId, int *value);
ZARN_API int32_t ZARN_CALL ZARN_IsTorqueLimit(uint8_t driveId, int *value);
ZARN_API int32_t ZARN_CALL ZARN_GetDigitalInputs(uint8_t driveId, uint32_t *value);
ZARN_API int32_t ZARN_CALL ZARN_GetDigitalOutputs(uint8_t driveId, uint32_t *value);
/** Exported as ?ZARN_SetDigitalOutputs@@YGHEK@Z on 32-bit Windows, which the import libraries
 *  libzarn.dll.a and zarn.lib (with the directive below) bind this declaration to. */
ZARN_API int32_t ZARN_CALL ZARN_SetDigitalOutputs(uint8_t driveId, uint32_t outputs);
#if defined(_MSC_VER) && defined(_M_IX86) && !defined(ZARN_BUILDING_LIBRARY)
#pragma comment(linker, "/alternatename:_ZARN_SetDigitalOutputs@8=?ZARN_SetDigitalOutputs@@YGHEK@Z")
#pragma comment(linker, "/alternatename:__imp__ZARN_SetDigitalOutputs@8=__imp_?ZARN_SetDigitalOutputs@@YGHEK@Z")
#endif
ZARN_API int32_t ZARN_CALL ZARN_SetDigitalOutputsWithMask(uint8_t driveId, uint32_t outputs, uint32_t mask);
ZARN_API int32_t ZARN_CALL ZARN_GetDigitalInputSignals(uint8_t driveId, uint8_t number, uint16_t *signal,
                                                       uint16_t *flag);
ZARN_API int32_t ZARN_CALL ZARN_SetDigitalInputSignals(uint8_t driveId, uint8_t number, uint16_t signal, uint16_t flag);
ZARN_API int32_t ZARN_CALL ZARN_GetDigitalOutputSignals(uint8_t driveId, uint8_t number, uint16_t *signal,
                                                        uint16_t *flag);
ZARN_API int32_t ZARN_CALL ZARN_SetDigitalOutputSignals(uint8_t driveId, uint8_t number, uint16_t signal,
                                                        uint16_t flag);
ZARN_API int32_t ZARN_CALL ZARN_GetDriveControlInput1(uint8_t driveId, int bit, int *value);
ZARN_API int32_t ZARN_CALL ZARN_GetDriveControlInput2(uint8_t driveId, int bit, int *value);
ZARN_API int32_t ZARN_CALL ZARN_GetDriveStateOutput(uint8_t driveId, int bit, int *value);
ZARN_API int32_t ZARN_CALL ZARN_SetDriveControlInput1(uint8_t driveId, int bit, int on);
ZARN_API int32_t ZARN_CALL ZARN_SetDriveControlInput2(uint8_t driveId, int bit, int on);

#ifdef __cplusplus
}
#endif

#endif
