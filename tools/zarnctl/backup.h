// The backup of a drive's parameters: the settings of the object map and every
// index record the drive answers, as a JSON document (format "zarn-backup",
// version 2). zarnctl's backup and restore commands and the console share it.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "access.h"
#include "output.h"
#include "session.h"

namespace zarnctl {

// Called before each value is read or written: how far the work is (0 to 1),
// what comes next, and how many values have been written so far. It may throw
// to end the work (Ctrl+C).
using BackupStep = std::function<void(double fraction, const std::string& next, int written)>;

// Reads the drive's settings and index records; *notOnDrive counts the
// settings the drive does not have. Throws a failure when a read fails.
Json ReadBackup(const Link& link, const BackupStep& step, int* notOnDrive);

// A backup document read and checked before anything is written to a drive.
struct Backup {
  int version = 0;
  struct Parameter {
    Target target;
    const ValueType* type;
    Value value;
  };
  std::vector<Parameter> parameters;
  std::vector<std::pair<int, IndexParameter>> records;
};

// Checks a backup document; `source` names it in the failures (usage failures).
Backup ParseBackup(const std::string& content, const std::string& source);

// Writes a backup to the drive, each value read back and compared; throws on
// the first value that fails or that the drive does not hold afterwards.
void WriteBackup(const Link& link, const Backup& backup, const BackupStep& step);

}  // namespace zarnctl
