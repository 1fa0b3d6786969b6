/**
 * @file zarn.hpp
 * zarn motion library: the C++ API, header-only over the C functions of zarn.h.
 *
 * `zarn::Drive` owns one drive connection and offers typed object access, the
 * drive's state and motion that can be trusted on a real axis: moves refuse to
 * start under an alarm or a latched emergency stop, waiting for a move sees it
 * start before it believes the in-position bit, homing always gets a rising
 * edge, and an alarm reset does not re-energise the motor by itself.
 *
 * Errors are thrown as `zarn::Error` (a `std::system_error` in
 * `zarn::error_category()`); the operations that poll also take a
 * `std::error_code&` and throw nothing. Nothing here throws across the C
 * functions: they return codes, and this header turns the codes into errors.
 *
 * A `Drive` is used by one thread at a time. Several `Drive` objects may be
 * used from several threads: the library serialises the requests of each
 * transport.
 */
#ifndef ZARN_ZARN_HPP
#define ZARN_ZARN_HPP

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <type_traits>

#include "zarn.h"

namespace zarn {

// ---------------------------------------------------------------- errors

namespace detail {
class ErrorCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "zarn"; }
  std::string message(int code) const override { return Text(code); }
  // The message of any code: the library's table and the motion conditions.
  static const char* Text(int code) noexcept {
    switch (code) {
#define ZARN_MESSAGE_CASE_(value, name, text) \
  case value: return text;
      ZARN_ERROR_LIST(ZARN_MESSAGE_CASE_)
      ZARN_MOTION_ERROR_LIST(ZARN_MESSAGE_CASE_)
#undef ZARN_MESSAGE_CASE_
      default: return "Unknown Error.";
    }
  }
};
}  // namespace detail

/** The category of every zarn code: values are the codes of zarn_errors.h, messages their texts.
 *  `error_category().message(code)` gives the message of any code; codes outside the tables read
 *  "Unknown Error.". */
inline const std::error_category& error_category() noexcept {
  static const detail::ErrorCategory category;
  return category;
}

/** A zarn code as a std::error_code. */
inline std::error_code make_error_code(int code) noexcept { return std::error_code(code, error_category()); }

/**
 * A failed call. `code()` holds the zarn code in `error_category()`; `what()`
 * says which operation on which drive failed, then the code's message, e.g.
 * "MoveAbsolute, drive 1, alarm 0xFF11: Motion: The drive reports an alarm.".
 */
class Error : public std::system_error {
 public:
  Error(int code, const std::string& context) : std::system_error(make_error_code(code), context) {}
  Error(std::error_code code, const std::string& context) : std::system_error(code, context) {}
};

// ---------------------------------------------------------------- values

/** A point-to-point profile in drive units: 0x6081, 0x6083 and 0x6084. */
struct Profile {
  uint32_t velocity;
  uint32_t acceleration;
  uint32_t deceleration;
};

/** A homing run: 0x6099:01, 0x6099:02, 0x609A and the home offset 0x607C. */
struct HomingProfile {
  int32_t switchSpeed;    ///< speed while searching the switch
  int32_t zeroSpeed;      ///< speed while searching zero
  uint32_t acceleration;  ///< homing acceleration
  int16_t offset;         ///< home offset: the position the home becomes
};

/** The drive's state as it reports it, decoded from one read of each word. */
struct DriveStatus {
  bool servoOn;             ///< 0x2121 bit 0: the drive reports the motor energised
  bool alarm;               ///< 0x2121 bit 1
  bool inPosition;          ///< 0x2121 bit 4
  bool torqueLimit;         ///< 0x2121 bit 5
  bool inVelocity;          ///< 0x2121 bit 7
  bool homed;               ///< 0x2122 bit 0: homing done
  bool indexEnded;          ///< 0x2122 bit 1
  bool emergencyStop;       ///< 0x211F bit 10: latched until ReleaseEmergencyStop()
  bool servoEnableCommand;  ///< 0x211F bit 12: what the application asked for, not the drive's state
  bool stopCommand;         ///< 0x211F bit 3: left set by Stop(), cleared by the next move
  uint16_t alarmCode;       ///< 0x603F when the alarm bit is set, else 0
  uint16_t stateOutput;     ///< 0x2121, the whole word
  uint16_t homingState;     ///< 0x2122, the whole word
  uint16_t controlInput1;   ///< 0x211F, the whole word
};

namespace detail {

// The objects and bits this header reads by number (the library's object map
// holds the same numbers; a test compares them).
constexpr uint16_t kControlInput1 = 0x211F;
constexpr uint16_t kStateOutput = 0x2121;
constexpr uint16_t kHomingState = 0x2122;
constexpr uint16_t kErrorCode = 0x603F;
constexpr uint16_t kPositionWindow = 0x6067;
constexpr int kStopBit = 3;            // 0x211F
constexpr int kEmergencyStopBit = 10;  // 0x211F
constexpr int kServoEnableBit = 12;    // 0x211F
constexpr int kServoOnBit = 0;         // 0x2121
constexpr int kAlarmBit = 1;           // 0x2121
constexpr int kInPositionBit = 4;      // 0x2121
constexpr int kTorqueLimitBit = 5;     // 0x2121
constexpr int kInVelocityBit = 7;      // 0x2121
constexpr int kHomingDoneBit = 0;      // 0x2122
constexpr int kIndexEndedBit = 1;      // 0x2122
constexpr std::chrono::milliseconds kPollPeriod{10};

constexpr bool Bit(uint16_t word, int bit) { return (word >> bit) & 1u; }

template <typename T>
constexpr bool kIsAccessType = std::is_same_v<T, uint8_t> || std::is_same_v<T, int8_t> || std::is_same_v<T, uint16_t> ||
                               std::is_same_v<T, int16_t> || std::is_same_v<T, uint32_t> || std::is_same_v<T, int32_t>;

template <typename T>
int32_t ReadAs(uint8_t id, uint16_t index, uint8_t sub, T* value) {
  if constexpr (std::is_same_v<T, uint8_t>) return ZARN_ReadByte(id, index, sub, value);
  if constexpr (std::is_same_v<T, int8_t>) return ZARN_ReadByteS(id, index, sub, value);
  if constexpr (std::is_same_v<T, uint16_t>) return ZARN_ReadWord(id, index, sub, value);
  if constexpr (std::is_same_v<T, int16_t>) return ZARN_ReadWordS(id, index, sub, value);
  if constexpr (std::is_same_v<T, uint32_t>) return ZARN_ReadDWord(id, index, sub, value);
  if constexpr (std::is_same_v<T, int32_t>) return ZARN_ReadDWordS(id, index, sub, value);
}

template <typename T>
int32_t WriteAs(uint8_t id, uint16_t index, uint8_t sub, T value) {
  if constexpr (std::is_same_v<T, uint8_t>) return ZARN_WriteByte(id, index, sub, value);
  if constexpr (std::is_same_v<T, int8_t>) return ZARN_WriteByteS(id, index, sub, value);
  if constexpr (std::is_same_v<T, uint16_t>) return ZARN_WriteWord(id, index, sub, value);
  if constexpr (std::is_same_v<T, int16_t>) return ZARN_WriteWordS(id, index, sub, value);
  if constexpr (std::is_same_v<T, uint32_t>) return ZARN_WriteDWord(id, index, sub, value);
  if constexpr (std::is_same_v<T, int32_t>) return ZARN_WriteDWordS(id, index, sub, value);
}

// The library has one serial line for all serial drive ids, and closing any
// serial id closes the line. The Drive objects on the line share it: an id
// whose Drive is gone stays open (released) until the last Drive on the line
// goes, which closes the line and every id that this header opened on it.
class SerialLine {
 public:
  static SerialLine& Instance() {
    static SerialLine line;
    return line;
  }

  // ZARN_OK, or a code with the reason in *why.
  int32_t Join(uint8_t id, const char* port, uint32_t baud, const char** why) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (users_ > 0 && (port_ != port || baud_ != baud)) {
      *why = "the serial line is open on another port or at another speed";
      return ZARN_E_SERIAL_OPEN;
    }
    if (ids_[id] == kOwned) {
      *why = "another Drive holds this id";
      return ZARN_E_SERIAL_OPEN;
    }
    if (ids_[id] == kFree) {
      const int32_t code = ZARN_SDRVOpen(id, port, baud);
      if (code != ZARN_OK) {
        *why = "";
        return code;
      }
    }
    ids_[id] = kOwned;
    if (users_++ == 0) {
      port_ = port;
      baud_ = baud;
    }
    return ZARN_OK;
  }

  void Leave(uint8_t id) noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    ids_[id] = kReleased;
    if (--users_ > 0) return;
    for (int n = 0; n < 256; ++n) {
      if (ids_[n] == kFree) continue;
      ZARN_DriveClose(n);
      ids_[n] = kFree;
    }
  }

 private:
  enum IdState : uint8_t { kFree, kOwned, kReleased };
  std::mutex mutex_;
  std::string port_;
  uint32_t baud_ = 0;
  int users_ = 0;
  IdState ids_[256] = {};
};

}  // namespace detail

// ---------------------------------------------------------------- drive

/**
 * One drive connection, closed by the destructor. Move-only.
 *
 * Every operation is one or more requests through the C functions, each
 * blocking until its reply is in (one to two seconds at most when the drive
 * is silent). Operations on a closed or moved-from Drive throw
 * ZARN_E_NO_CONNECTION without a request.
 *
 * Closing: an Ethernet connection is closed with its Drive. Serial drive ids
 * share one line, which the library can only close as a whole: the line stays
 * open while any Drive on it lives, and closes (with every id opened on it
 * through this class) when the last one goes. Serial ids that the application
 * opened through the C functions directly are not counted.
 *
 * The destructor neither stops nor disables the axis: call Disable() first
 * when the motor must not stay energised.
 */
class Drive {
 public:
  /** Opens (or joins) the serial line for drive id `id`.
   *  @throws Error ZARN_E_SERIAL_OPEN when the port does not open, the id is connected already, or the line
   *          is open on another port or at another speed. */
  static Drive OpenSerial(uint8_t id, const std::string& port, uint32_t baud) {
    const char* why = "";
    const int32_t code = detail::SerialLine::Instance().Join(id, port.c_str(), baud, &why);
    if (code != ZARN_OK) throw Error(code, Context("OpenSerial", id) + (*why ? std::string(", ") + why : ""));
    return Drive(id, true);
  }

  /** Opens drive id `id` (0 to 31) over UDP to `address`:`port`.
   *  @throws Error ZARN_E_ETH_OPEN, ZARN_E_ETH_SLOT_USED, ZARN_E_NO_EMPTY_CONNECTION (id above 31). */
  static Drive OpenUdp(uint8_t id, const std::string& address, uint16_t port) {
    const int32_t code = ZARN_EDRVOpen(id, address.c_str(), port);
    if (code != ZARN_OK) throw Error(code, Context("OpenUdp", id));
    return Drive(id, false);
  }

  /** A Drive without a connection (as a moved-from one): assign an opened Drive to it. */
  Drive() noexcept = default;
  Drive(const Drive&) = delete;
  Drive& operator=(const Drive&) = delete;
  Drive(Drive&& other) noexcept { Take(other); }
  Drive& operator=(Drive&& other) noexcept {
    if (this != &other) {
      Close();
      Take(other);
    }
    return *this;
  }
  ~Drive() { Close(); }

  /** Closes the connection now (see the class notes for the serial line); idempotent. */
  void Close() noexcept {
    if (!open_) return;
    open_ = false;
    if (serial_)
      detail::SerialLine::Instance().Leave(id_);
    else
      ZARN_DriveClose(id_);
  }

  /** The drive id. */
  uint8_t id() const noexcept { return id_; }
  /** False once closed or moved from. */
  bool isOpen() const noexcept { return open_; }

  // ------------------------------------------------------------ object access

  /** Reads one object as T: uint8_t, int8_t, uint16_t, int16_t, uint32_t or int32_t (1, 2 or 4 bytes). */
  template <typename T>
  T Read(uint16_t index, uint8_t sub) const {
    static_assert(detail::kIsAccessType<T>, "Read<T>: T is an 8, 16 or 32-bit integer");
    T value{};
    Call("Read", [&] { return detail::ReadAs<T>(id_, index, sub, &value); });
    return value;
  }

  /** Writes one object with the width of T (the types of Read). */
  template <typename T>
  void Write(uint16_t index, uint8_t sub, T value) {
    static_assert(detail::kIsAccessType<T>, "Write<T>: T is an 8, 16 or 32-bit integer");
    Call("Write", [&] { return detail::WriteAs<T>(id_, index, sub, value); });
  }

  /** Reads a text object (at most 32 characters). */
  std::string ReadText(uint16_t index, uint8_t sub) const {
    char text[33] = {};
    Call("ReadText", [&] { return ZARN_ReadString(id_, index, sub, text); });
    return text;
  }

  /** Writes a text object without its terminator.
   *  @throws Error ZARN_E_STRING_TOO_LONG above 32 characters, ZARN_E_INVALID_PARAM for a text holding a NUL
   *          (both without a request). */
  void WriteText(uint16_t index, uint8_t sub, std::string_view text) {
    if (text.size() > 32) throw Error(ZARN_E_STRING_TOO_LONG, Context("WriteText"));
    if (text.find('\0') != std::string_view::npos)
      throw Error(ZARN_E_INVALID_PARAM, Context("WriteText") + ", a NUL in the text");
    char buffer[33] = {};
    std::memcpy(buffer, text.data(), text.size());
    Call("WriteText", [&] { return ZARN_WriteString(id_, index, sub, buffer); });
  }

  // ------------------------------------------------------------ state

  /** Reads 0x2121, 0x2122 and 0x211F (and 0x603F when the alarm bit is set): 3 or 4 requests. */
  DriveStatus Status() const {
    DriveStatus s{};
    Check(ReadStatus(&s), "Status");
    return s;
  }

  /** The actual position, 0x6064. */
  int32_t Position() const { return Get<int32_t>("Position", ZARN_ActualPosition); }
  /** The actual velocity, 0x606C. */
  int32_t Velocity() const { return Get<int32_t>("Velocity", ZARN_ActualVelocity); }
  /** The actual torque, 0x6077. */
  int16_t Torque() const { return Get<int16_t>("Torque", ZARN_ActualTorque); }

  // ------------------------------------------------------------ servo

  /**
   * Switches the servo on and waits until the drive reports it on (0x2121 bit 0).
   * Refused while an alarm is active or the emergency stop is latched: setting
   * the enable bit then would energise the motor the moment either clears.
   * @throws Error ZARN_E_ALARM_ACTIVE, ZARN_E_EMERGENCY_STOP (no write made), ZARN_E_SERVO_ON_TIMEOUT,
   *         or a request's code.
   */
  void Enable(std::chrono::milliseconds timeout = std::chrono::milliseconds(1000)) {
    uint16_t alarm = 0;
    const int32_t code = EnableCode(timeout, &alarm);
    Throw(code, "Enable", alarm);
  }
  /** Enable() reporting through `ec` instead of throwing. */
  void Enable(std::chrono::milliseconds timeout, std::error_code& ec) noexcept {
    uint16_t alarm = 0;
    ec = Code(EnableCode(timeout, &alarm));
  }

  /** Clears the servo enable bit (0x211F bit 12). */
  void Disable() {
    move_ = Move{};
    Call("Disable", [this] { return ZARN_Disable(id_); });
  }

  /** Latches the emergency stop: 0x211F = 0x0000, then 0x0400 (sent even when the first write fails).
   *  Every other command bit, servo enable included, ends cleared. */
  void EmergencyStop() {
    move_ = Move{};
    Call("EmergencyStop", [this] { return ZARN_EmergencyStop(id_); });
  }

  /** Clears the emergency stop bit, and with it the servo enable bit, so the motor stays off until Enable(). */
  void ReleaseEmergencyStop() {
    uint16_t word = 0;
    int32_t code = Connected() ? ZARN_ReadWord(id_, detail::kControlInput1, 0, &word) : ZARN_E_NO_CONNECTION;
    if (code == ZARN_OK) {
      word = static_cast<uint16_t>(word & ~((1u << detail::kEmergencyStopBit) | (1u << detail::kServoEnableBit)));
      code = ZARN_WriteWord(id_, detail::kControlInput1, 0, word);
    }
    Check(code, "ReleaseEmergencyStop");
  }

  /**
   * Resets an active alarm and checks that it is gone. The servo enable bit is
   * cleared first, so the motor does not re-energise when the alarm clears:
   * call Enable() afterwards. Without an alarm nothing is written.
   * Blocks at least 500 ms when there is an alarm (the reset bit is held).
   * @throws Error ZARN_E_ALARM_PERSISTS (the alarm's code in what()), or a request's code.
   */
  void ResetAlarm() {
    uint16_t alarm = 0;
    const int32_t code = ResetAlarmCode(&alarm);
    Throw(code, "ResetAlarm", alarm);
  }
  /** ResetAlarm() reporting through `ec` instead of throwing. */
  void ResetAlarm(std::error_code& ec) noexcept {
    uint16_t alarm = 0;
    ec = Code(ResetAlarmCode(&alarm));
  }

  // ------------------------------------------------------------ motion

  /**
   * Starts an absolute move to `target` with `profile`. Refused, with no
   * motion request, while an alarm is active, the emergency stop is latched or
   * the servo is off. A stop bit left set by Stop() is cleared first.
   * Requests: the status (3 or 4), a read and a write of 0x211F when the stop
   * bit is set, the position, the position window, then the 8 requests of
   * ZARN_MoveAbsolute.
   * @throws Error ZARN_E_ALARM_ACTIVE, ZARN_E_EMERGENCY_STOP, ZARN_E_SERVO_OFF, or a request's code.
   */
  void MoveAbsolute(int32_t target, const Profile& profile) {
    uint16_t alarm = 0;
    const int32_t code = StartMove(target, profile, false, &alarm);
    Throw(code, "MoveAbsolute", alarm);
  }

  /** Starts a move by `distance` from where the axis is; as MoveAbsolute(). */
  void MoveRelative(int32_t distance, const Profile& profile) {
    uint16_t alarm = 0;
    const int32_t code = StartMove(distance, profile, true, &alarm);
    Throw(code, "MoveRelative", alarm);
  }

  /**
   * Waits until the last move started through this Drive has really ended.
   * The in-position bit is believed only once the move is seen to start: the
   * bit has dropped, or the axis is within the position window (0x6067) of the
   * target, or the axis has moved and then held still for one poll (a move
   * cut short by Stop()). A drive that leaves the bit set for the first cycles
   * of a move therefore does not end the wait early. Without a move started
   * here, waits for the in-position bit.
   * Polls 0x2121, 0x211F and 0x6064 every 10 ms, at least once.
   * @throws Error ZARN_E_ALARM_ACTIVE (the alarm's code in what()), ZARN_E_EMERGENCY_STOP,
   *         ZARN_E_SERVO_OFF, ZARN_E_MOVE_TIMEOUT, or a request's code.
   */
  void WaitMoveDone(std::chrono::milliseconds timeout) {
    uint16_t alarm = 0;
    const int32_t code = WaitMoveDoneCode(timeout, &alarm);
    Throw(code, "WaitMoveDone", alarm);
  }
  /** WaitMoveDone() reporting through `ec` instead of throwing. */
  void WaitMoveDone(std::chrono::milliseconds timeout, std::error_code& ec) noexcept {
    uint16_t alarm = 0;
    ec = Code(WaitMoveDoneCode(timeout, &alarm));
  }

  /** Halts the axis with the drive's stop deceleration (a rising edge of 0x211F bit 3, which stays set until
   *  the next move clears it). A following WaitMoveDone() ends when the axis is at rest in position. */
  void Stop() {
    Call("Stop", [this] { return ZARN_Stop(id_); });
    move_.stopped = true;
  }

  /**
   * Homes with `method` and `profile` and waits for homing done (0x2122 bit 0).
   * Refused like a move; the start bit always gets a rising edge, so homing
   * twice homes twice.
   * @throws Error ZARN_E_ALARM_ACTIVE, ZARN_E_EMERGENCY_STOP, ZARN_E_SERVO_OFF, ZARN_E_HOMING_TIMEOUT,
   *         or a request's code.
   */
  void Home(int8_t method, const HomingProfile& profile, std::chrono::milliseconds timeout) {
    uint16_t alarm = 0;
    const int32_t code = HomeCode(method, profile, timeout, &alarm);
    Throw(code, "Home", alarm);
  }
  /** Home() reporting through `ec` instead of throwing. */
  void Home(int8_t method, const HomingProfile& profile, std::chrono::milliseconds timeout,
            std::error_code& ec) noexcept {
    uint16_t alarm = 0;
    ec = Code(HomeCode(method, profile, timeout, &alarm));
  }

 private:
  // The move that WaitMoveDone() waits for.
  struct Move {
    bool pending = false;
    bool stopped = false;
    int64_t target = 0;
    int32_t start = 0;
    uint32_t window = 0;
  };

  Drive(uint8_t id, bool serial) : id_(id), open_(true), serial_(serial) {}

  void Take(Drive& other) noexcept {
    id_ = other.id_;
    open_ = other.open_;
    serial_ = other.serial_;
    move_ = other.move_;
    other.open_ = false;
  }

  bool Connected() const noexcept { return open_; }

  static std::string Context(const char* operation, uint8_t id) {
    return std::string(operation) + ", drive " + std::to_string(id);
  }
  std::string Context(const char* operation) const { return Context(operation, id_); }

  static std::error_code Code(int32_t code) noexcept {
    return code == ZARN_OK ? std::error_code() : make_error_code(code);
  }

  void Check(int32_t code, const char* operation) const {
    if (code != ZARN_OK) throw Error(code, Context(operation));
  }

  // Makes the request(s) of `request` on an open Drive and throws on failure.
  template <typename Request>
  void Call(const char* operation, Request request) const {
    Check(Connected() ? request() : ZARN_E_NO_CONNECTION, operation);
  }

  template <typename T>
  T Get(const char* operation, int32_t(ZARN_CALL* reader)(uint8_t, T*)) const {
    T value{};
    Call(operation, [&] { return reader(id_, &value); });
    return value;
  }

  void Throw(int32_t code, const char* operation, uint16_t alarm) const {
    if (code == ZARN_OK) return;
    std::string context = Context(operation);
    if (code == ZARN_E_ALARM_ACTIVE || code == ZARN_E_ALARM_PERSISTS) {
      char text[24];
      std::snprintf(text, sizeof text, ", alarm 0x%04X", static_cast<unsigned>(alarm));
      context += text;
    }
    throw Error(code, context);
  }

  int32_t ReadStatus(DriveStatus* s) const noexcept {
    if (!Connected()) return ZARN_E_NO_CONNECTION;
    int32_t code = ZARN_ReadWord(id_, detail::kStateOutput, 0, &s->stateOutput);
    if (code == ZARN_OK) code = ZARN_ReadWord(id_, detail::kHomingState, 0, &s->homingState);
    if (code == ZARN_OK) code = ZARN_ReadWord(id_, detail::kControlInput1, 0, &s->controlInput1);
    if (code != ZARN_OK) return code;
    using detail::Bit;
    s->servoOn = Bit(s->stateOutput, detail::kServoOnBit);
    s->alarm = Bit(s->stateOutput, detail::kAlarmBit);
    s->inPosition = Bit(s->stateOutput, detail::kInPositionBit);
    s->torqueLimit = Bit(s->stateOutput, detail::kTorqueLimitBit);
    s->inVelocity = Bit(s->stateOutput, detail::kInVelocityBit);
    s->homed = Bit(s->homingState, detail::kHomingDoneBit);
    s->indexEnded = Bit(s->homingState, detail::kIndexEndedBit);
    s->emergencyStop = Bit(s->controlInput1, detail::kEmergencyStopBit);
    s->servoEnableCommand = Bit(s->controlInput1, detail::kServoEnableBit);
    s->stopCommand = Bit(s->controlInput1, detail::kStopBit);
    s->alarmCode = 0;
    return s->alarm ? ZARN_ReadWord(id_, detail::kErrorCode, 0, &s->alarmCode) : ZARN_OK;
  }

  // What stops motion from starting, in the order a user must clear it.
  static int32_t Refusal(const DriveStatus& s, bool servoMustBeOn) noexcept {
    if (s.alarm) return ZARN_E_ALARM_ACTIVE;
    if (s.emergencyStop) return ZARN_E_EMERGENCY_STOP;
    if (servoMustBeOn && !s.servoOn) return ZARN_E_SERVO_OFF;
    return ZARN_OK;
  }

  // Polls every 10 ms, at least once, until `done(state, &finished)` sets finished. Each poll first reads
  // the drive state output and control input 1 and ends the wait on an alarm, a latched emergency stop, or
  // (servoMustBeOn) the servo off; after the time-out it gives `timeoutCode`.
  template <typename Done>
  int32_t Watch(std::chrono::milliseconds timeout, int32_t timeoutCode, bool servoMustBeOn, uint16_t* alarm,
                Done done) const noexcept {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      uint16_t state = 0, control = 0;
      int32_t code = ZARN_ReadWord(id_, detail::kStateOutput, 0, &state);
      if (code == ZARN_OK) code = ZARN_ReadWord(id_, detail::kControlInput1, 0, &control);
      if (code != ZARN_OK) return code;
      if (detail::Bit(state, detail::kAlarmBit)) {
        ZARN_ReadWord(id_, detail::kErrorCode, 0, alarm);
        return ZARN_E_ALARM_ACTIVE;
      }
      if (detail::Bit(control, detail::kEmergencyStopBit)) return ZARN_E_EMERGENCY_STOP;
      if (servoMustBeOn && !detail::Bit(state, detail::kServoOnBit)) return ZARN_E_SERVO_OFF;
      bool finished = false;
      if ((code = done(state, &finished)) != ZARN_OK) return code;
      if (finished) return ZARN_OK;
      if (std::chrono::steady_clock::now() >= deadline) return timeoutCode;
      std::this_thread::sleep_for(detail::kPollPeriod);
    }
  }

  int32_t EnableCode(std::chrono::milliseconds timeout, uint16_t* alarm) noexcept {
    DriveStatus s{};
    int32_t code = ReadStatus(&s);
    if (code != ZARN_OK) return code;
    if ((code = Refusal(s, false)) != ZARN_OK) {
      *alarm = s.alarmCode;
      return code;
    }
    if ((code = ZARN_Enable(id_)) != ZARN_OK) return code;
    return Watch(timeout, ZARN_E_SERVO_ON_TIMEOUT, false, alarm, [](uint16_t state, bool* finished) -> int32_t {
      *finished = detail::Bit(state, detail::kServoOnBit);
      return ZARN_OK;
    });
  }

  int32_t ResetAlarmCode(uint16_t* alarm) noexcept {
    DriveStatus s{};
    int32_t code = ReadStatus(&s);
    if (code != ZARN_OK || !s.alarm) return code;
    move_ = Move{};
    if (s.servoEnableCommand && (code = ZARN_Disable(id_)) != ZARN_OK) return code;
    if ((code = ZARN_ResetAlarm(id_)) != ZARN_OK) return code;
    if ((code = ReadStatus(&s)) != ZARN_OK) return code;
    *alarm = s.alarmCode;
    return s.alarm ? int32_t(ZARN_E_ALARM_PERSISTS) : int32_t(ZARN_OK);
  }

  int32_t StartMove(int32_t value, const Profile& p, bool relative, uint16_t* alarm) noexcept {
    move_ = Move{};
    DriveStatus s{};
    int32_t code = ReadStatus(&s);
    if (code != ZARN_OK) return code;
    if ((code = Refusal(s, true)) != ZARN_OK) {
      *alarm = s.alarmCode;
      return code;
    }
    // A drive whose stop input acts on its level would not move while the bit stays set.
    if (s.stopCommand && (code = ZARN_SetDriveControlInput1(id_, detail::kStopBit, 0)) != ZARN_OK) return code;
    Move m;
    if ((code = ZARN_ActualPosition(id_, &m.start)) != ZARN_OK) return code;
    if ((code = ZARN_ReadDWord(id_, detail::kPositionWindow, 0, &m.window)) != ZARN_OK) return code;
    m.target = relative ? int64_t(m.start) + value : value;
    code = relative ? ZARN_MoveRelative(id_, value, p.velocity, p.acceleration, p.deceleration)
                    : ZARN_MoveAbsolute(id_, value, p.velocity, p.acceleration, p.deceleration);
    if (code != ZARN_OK) return code;
    m.pending = true;
    move_ = m;
    return ZARN_OK;
  }

  int32_t WaitMoveDoneCode(std::chrono::milliseconds timeout, uint16_t* alarm) noexcept {
    if (!Connected()) return ZARN_E_NO_CONNECTION;
    const Move m = move_;
    bool dropped = false, havePrevious = false;
    int32_t previous = 0;
    const int32_t code =
        Watch(timeout, ZARN_E_MOVE_TIMEOUT, m.pending, alarm, [&](uint16_t state, bool* finished) -> int32_t {
          const bool inPosition = detail::Bit(state, detail::kInPositionBit);
          if (!m.pending) {
            *finished = inPosition;
            return ZARN_OK;
          }
          int32_t position = 0;
          const int32_t read = ZARN_ActualPosition(id_, &position);
          if (read != ZARN_OK) return read;
          dropped = dropped || !inPosition;
          const int64_t distance = int64_t(position) - m.target;
          const bool atTarget = !m.stopped && (distance < 0 ? -distance : distance) <= int64_t(m.window);
          const bool settled = havePrevious && position == previous && (position != m.start || m.stopped);
          *finished = inPosition && (dropped || atTarget || settled);
          previous = position;
          havePrevious = true;
          return ZARN_OK;
        });
    move_ = code == ZARN_E_MOVE_TIMEOUT ? move_ : Move{};
    return code;
  }

  int32_t HomeCode(int8_t method, const HomingProfile& p, std::chrono::milliseconds timeout, uint16_t* alarm) noexcept {
    move_ = Move{};
    DriveStatus s{};
    int32_t code = ReadStatus(&s);
    if (code != ZARN_OK) return code;
    if ((code = Refusal(s, true)) != ZARN_OK) {
      *alarm = s.alarmCode;
      return code;
    }
    code = ZARN_Homing(id_, static_cast<char>(method), p.switchSpeed, p.zeroSpeed, p.acceleration, p.offset);
    if (code != ZARN_OK) return code;
    return Watch(timeout, ZARN_E_HOMING_TIMEOUT, true, alarm, [this](uint16_t, bool* finished) -> int32_t {
      uint16_t homing = 0;
      const int32_t read = ZARN_ReadWord(id_, detail::kHomingState, 0, &homing);
      *finished = read == ZARN_OK && detail::Bit(homing, detail::kHomingDoneBit);
      return read;
    });
  }

  uint8_t id_ = 0;
  bool open_ = false;
  bool serial_ = false;
  Move move_;
};

}  // namespace zarn

#endif
